// Tells the extension which GitHub page has loaded; the extension writes one line to the
// system log for it. Runs in the top frame only, once the page is ready.
document.addEventListener("DOMContentLoaded", function () {
  if (window.top !== window) {
    return;
  }
  safari.extension.dispatchMessage("page-loaded", { path: window.location.pathname });
});
