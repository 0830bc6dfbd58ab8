#include "platform/standin/secret_service_keychain.hpp"

#include <libsecret/secret.h>

#include <condition_variable>
#include <cstdint>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

namespace tidingsbell::standin {
namespace {

using platform::KeychainQuery;
using platform::OSStatus;

// Items are stored under this schema's name (their xdg:schema attribute, which tells a keyring
// browser what they are), but it never takes part in a match: an item with the same service and
// account stored by another client is the same item.
const SecretSchema kSchema = {
    "com.marblequail.Tidingsbell.GenericPassword",
    SECRET_SCHEMA_DONT_MATCH_NAME,
    {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING}, {"account", SECRET_SCHEMA_ATTRIBUTE_STRING}},
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr};

// Both values are what `secret-tool lookup` should be able to show, as the platform's keychain
// tool shows them; the bytes themselves are stored exactly, whatever they are.
constexpr const char* kContentType = "text/plain";

// The platform's keychain, asked without user interaction, fails where it would have to ask; so
// does this one. A SecretService whose prompts are refused: libsecret hands every prompt a
// service returns (to unlock a collection, to confirm an access) to these, synchronous calls
// included, so nothing can ever pop up in front of the user.
constexpr const char* kPromptRefused = "the keyring would have to ask the user";
int promptRefusedTag;  // its address marks the refusals' tasks

GVariant* refusePrompt(SecretService*, SecretPrompt*, GCancellable*, const GVariantType*,
                       GError** error) {
  g_set_error_literal(error, secret_error_get_quark(), SECRET_ERROR_IS_LOCKED, kPromptRefused);
  return nullptr;
}

void refusePromptAsync(SecretService* self, SecretPrompt*, const GVariantType*, GCancellable*,
                       GAsyncReadyCallback callback, gpointer userData) {
  g_task_report_new_error(self, callback, userData, &promptRefusedTag, secret_error_get_quark(),
                          SECRET_ERROR_IS_LOCKED, "%s", kPromptRefused);
}

GVariant* finishRefusedPrompt(SecretService*, GAsyncResult* result, GError** error) {
  return static_cast<GVariant*>(g_task_propagate_pointer(reinterpret_cast<GTask*>(result), error));
}

void initPromptlessClass(gpointer klass, gpointer) {
  auto* serviceClass = static_cast<SecretServiceClass*>(klass);
  serviceClass->prompt_sync = refusePrompt;
  serviceClass->prompt_async = refusePromptAsync;
  serviceClass->prompt_finish = finishRefusedPrompt;
}

GType promptlessServiceType() {
  static const GType type = g_type_register_static_simple(
      secret_service_get_type(), "TidingsbellPromptlessSecretService",
      static_cast<guint>(sizeof(SecretServiceClass)), initPromptlessClass,
      static_cast<guint>(sizeof(SecretService)), nullptr, static_cast<GTypeFlags>(0));
  return type;
}

// No answer in time: a daemon or a bus that stopped answering, or our own bound on a call.
bool isHung(const GError* error) {
  if (error->domain == g_dbus_error_quark()) {
    return error->code == G_DBUS_ERROR_NO_REPLY || error->code == G_DBUS_ERROR_TIMEOUT ||
           error->code == G_DBUS_ERROR_TIMED_OUT;
  }
  return error->domain == g_io_error_quark() &&
         (error->code == G_IO_ERROR_CANCELLED || error->code == G_IO_ERROR_TIMED_OUT);
}

bool isGone(const GError* error) {
  if (error->domain == g_dbus_error_quark()) {
    switch (error->code) {
      case G_DBUS_ERROR_SERVICE_UNKNOWN:
      case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
      case G_DBUS_ERROR_NO_REPLY:
      case G_DBUS_ERROR_TIMEOUT:
      case G_DBUS_ERROR_TIMED_OUT:
      case G_DBUS_ERROR_DISCONNECTED:
      case G_DBUS_ERROR_NO_SERVER:
        return true;
      default:
        return false;
    }
  }
  if (error->domain == g_io_error_quark()) {
    return error->code == G_IO_ERROR_CLOSED || error->code == G_IO_ERROR_CONNECTION_CLOSED ||
           error->code == G_IO_ERROR_BROKEN_PIPE || error->code == G_IO_ERROR_NOT_CONNECTED;
  }
  return false;
}

OSStatus statusFor(const GError* error) {
  if (error == nullptr) return platform::errSecIO;
  if (error->domain == secret_error_get_quark()) {
    switch (error->code) {
      case SECRET_ERROR_IS_LOCKED:
        return platform::errSecInteractionNotAllowed;
      case SECRET_ERROR_NO_SUCH_OBJECT:
        return platform::errSecItemNotFound;
      case SECRET_ERROR_ALREADY_EXISTS:
        return platform::errSecDuplicateItem;
      default:
        return platform::errSecIO;
    }
  }
  if (error->domain == g_dbus_error_quark() && error->code == G_DBUS_ERROR_UNKNOWN_OBJECT) {
    return platform::errSecItemNotFound;  // deleted by someone else since the search
  }
  return isGone(error) || isHung(error) ? platform::errSecNotAvailable : platform::errSecIO;
}

// Cancels a call's GCancellable once its bound has passed, unless the call ended first. Every
// synchronous libsecret and GDBus call takes that cancellable, so a daemon or a bus that stops
// answering costs a caller the bound, not D-Bus's 25 s a message (or, while a connection is
// authenticated, no limit at all).
class Watchdog {
 public:
  Watchdog(GCancellable* cancellable, std::chrono::milliseconds bound) {
    try {
      thread_ = std::thread([this, cancellable, bound] {
        std::unique_lock lock(mutex_);
        if (!ended_.wait_for(lock, bound, [this] { return done_; })) {
          g_cancellable_cancel(cancellable);
        }
      });
    } catch (const std::system_error&) {
      // No thread to spare: the call runs under D-Bus's own time-outs alone.
    }
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;
  ~Watchdog() {
    {
      const std::lock_guard lock(mutex_);
      done_ = true;
    }
    ended_.notify_one();
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable ended_;
  bool done_ = false;
  std::thread thread_;
};

// Taken around an add's search and create by every program adding to this keyring: without it
// two programs adding the same item at once would both find none and both create one, where the
// platform's keychain lets one add succeed and answers the other with errSecDuplicateItem. The
// lock is a name on the session bus the keyring serves, so there is one per keyring whatever the
// programs' data folders, and the bus lets it go when its holder's connection ends (a killed
// holder included). Waiting for it is bounded: past `giveUpAt` (a holder that stopped, a bus
// that does not answer) the add goes on without it, and the create, which replaces an item with
// the same attributes in the daemon itself, still leaves one item.
class AddLock {
 public:
  AddLock(GDBusConnection* bus, GCancellable* cancellable,
          std::chrono::steady_clock::time_point giveUpAt)
      : bus_(static_cast<GDBusConnection*>(g_object_ref(bus))) {
    for (;;) {
      GError* error = nullptr;
      GVariant* reply = g_dbus_connection_call_sync(
          bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
          "RequestName", g_variant_new("(su)", kLockName, kDoNotQueue), G_VARIANT_TYPE("(u)"),
          G_DBUS_CALL_FLAGS_NONE, -1, cancellable, &error);
      if (reply == nullptr) {
        g_clear_error(&error);
        return;
      }
      guint32 answer = 0;
      g_variant_get(reply, "(u)", &answer);
      g_variant_unref(reply);
      held_ = answer == kPrimaryOwner;
      if (held_ || std::chrono::steady_clock::now() >= giveUpAt) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  AddLock(const AddLock&) = delete;
  AddLock& operator=(const AddLock&) = delete;
  ~AddLock() {
    // Sent after the create on the same connection, and waited for by no one: a bus that stopped
    // answering costs nothing here.
    if (held_) {
      g_dbus_connection_call(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                             "org.freedesktop.DBus", "ReleaseName", g_variant_new("(s)", kLockName),
                             nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
    }
    g_object_unref(bus_);  // the connection outlives a failed call's disconnect until here
  }

 private:
  static constexpr const char* kLockName = "com.marblequail.Tidingsbell.KeyringAddLock";
  static constexpr guint32 kDoNotQueue = 4;    // DBUS_NAME_FLAG_DO_NOT_QUEUE
  static constexpr guint32 kPrimaryOwner = 1;  // DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER

  GDBusConnection* bus_;
  bool held_ = false;
};

// A query's service and account as the attributes to match or store. Only text the Secret
// Service can carry is accepted (UTF-8 without NUL), and never a query without a service, which
// would reach every application's items in the keyring.
class Attributes {
 public:
  explicit Attributes(const KeychainQuery& query)
      : table_(g_hash_table_new(g_str_hash, g_str_equal)) {
    valid_ = query.secClass == platform::SecClass::GenericPassword && query.service.has_value();
    put("service", query.service);
    put("account", query.account);
  }
  Attributes(const Attributes&) = delete;
  Attributes& operator=(const Attributes&) = delete;
  ~Attributes() { g_hash_table_unref(table_); }

  [[nodiscard]] bool valid() const { return valid_; }
  [[nodiscard]] GHashTable* table() const { return table_; }

 private:
  void put(const char* name, const std::optional<std::string>& value) {
    if (!value) return;
    if (g_utf8_validate(value->data(), static_cast<gssize>(value->size()), nullptr) == FALSE) {
      valid_ = false;
      return;
    }
    g_hash_table_insert(table_, const_cast<char*>(name), const_cast<char*>(value->c_str()));
  }

  GHashTable* table_;
  bool valid_ = false;
};

// The items a search returned, released with it.
class Items {
 public:
  explicit Items(GList* list) : list_(list) {}
  Items(const Items&) = delete;
  Items& operator=(const Items&) = delete;
  ~Items() { g_list_free_full(list_, g_object_unref); }

  [[nodiscard]] GList* list() const { return list_; }
  [[nodiscard]] SecretItem* first() const {
    return list_ != nullptr ? static_cast<SecretItem*>(list_->data) : nullptr;
  }
  [[nodiscard]] bool anyLocked() const {
    for (GList* at = list_; at != nullptr; at = at->next) {
      if (secret_item_get_locked(static_cast<SecretItem*>(at->data)) != FALSE) return true;
    }
    return false;
  }

 private:
  GList* list_;
};

SecretValue* secretValue(const platform::Bytes& bytes) {
  return secret_value_new(bytes.empty() ? "" : reinterpret_cast<const gchar*>(bytes.data()),
                          static_cast<gssize>(bytes.size()), kContentType);
}

template <typename Object>
struct Unref {
  void operator()(Object* object) const { g_object_unref(object); }
};
template <typename Object>
using Owned = std::unique_ptr<Object, Unref<Object>>;

}  // namespace

// The proxies libsecret makes deliver D-Bus signals to the main context that was the thread's
// default when they were made. This process runs no GLib main loop, so they are made with this
// connection's own context current and it is drained after every call: signals from other
// clients' changes never pile up in a long-lived process.
struct SecretServiceKeychain::Connection {
  GMainContext* context = g_main_context_new();
  GDBusConnection* bus = nullptr;
  SecretService* service = nullptr;
  // After a call that got no answer, the calls within one bound fail at once rather than each
  // waiting out its own: a save (a read, a delete, an add) costs one bound, not three.
  std::chrono::steady_clock::time_point quietUntil;

  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() {
    disconnect();
    drain();
    g_main_context_unref(context);
  }

  // Connects, within the call's bound. False when it could not; then `hung` says whether that
  // was for want of an answer (something is there and stopped answering) rather than nothing
  // being there to answer.
  bool connect(GCancellable* cancellable, bool& hung) {
    GError* error = nullptr;
    if (bus == nullptr) {
      bus = g_bus_get_sync(G_BUS_TYPE_SESSION, cancellable, &error);
      // GLib ends the process when the session bus goes away; here that is only a keychain
      // that is no longer available.
      if (bus != nullptr) g_dbus_connection_set_exit_on_close(bus, FALSE);
    }
    if (bus != nullptr) {
      service = secret_service_open_sync(promptlessServiceType(), nullptr,
                                         SECRET_SERVICE_OPEN_SESSION, cancellable, &error);
    }
    hung = error != nullptr && isHung(error);
    g_clear_error(&error);
    if (service == nullptr) disconnect();  // the bus too: the next call starts from nothing
    return service != nullptr;
  }
  void disconnect() {
    if (service != nullptr) g_object_unref(service);
    service = nullptr;
    if (bus != nullptr) g_object_unref(bus);
    bus = nullptr;
  }
  void drain() const {
    while (g_main_context_iteration(context, FALSE) != FALSE) {
    }
  }
};

// One call into libsecret with the connection's context current and a bound on how long it may
// wait for answers, connecting first when the last call found the service gone.
class SecretServiceKeychain::Call {
 public:
  Call(Connection& connection, std::chrono::milliseconds bound)
      : connection_(connection), bound_(bound) {
    g_main_context_push_thread_default(connection_.context);
    if (connection_.service == nullptr &&
        std::chrono::steady_clock::now() >= connection_.quietUntil) {
      connect();
      connectedHere_ = true;
    }
  }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;
  ~Call() {
    g_main_context_pop_thread_default(connection_.context);
    connection_.drain();
  }

  [[nodiscard]] SecretService* service() const { return connection_.service; }
  [[nodiscard]] GDBusConnection* bus() const { return connection_.bus; }
  [[nodiscard]] GCancellable* cancellable() const { return cancellable_; }
  // Half the call's bound from its start: how long an add waits for its lock.
  [[nodiscard]] std::chrono::steady_clock::time_point halfway() const {
    return started_ + bound_ / 2;
  }
  // Whether connecting failed for want of an answer rather than for want of a service.
  [[nodiscard]] bool hung() const { return hung_; }

  // The items matching the attributes; on failure, none and `error` set.
  Items search(const Attributes& attributes, SecretSearchFlags flags, GError** error) const {
    return Items(secret_service_search_sync(connection_.service, &kSchema, attributes.table(),
                                            flags, cancellable_, error));
  }

  // The status for a failed call; a service that is gone or misbehaving is let go, so that the
  // next call reaches whichever instance answers then.
  OSStatus failed(GError* error) {
    const bool hung = isHung(error);
    const OSStatus status = statusFor(error);
    // A connection made before this call that finds the service gone (a daemon restarted since)
    // is worth one more try on a new one; a service that does not answer is not.
    if (!hung && !connectedHere_ && isGone(error)) sessionGone_ = true;
    g_clear_error(&error);
    if (status == platform::errSecNotAvailable || status == platform::errSecIO) {
      connection_.disconnect();
    }
    if (hung) noAnswer();
    return status;
  }

  // Whether the operation met the old connection's service gone; if so, connects afresh (once a
  // call) and says whether the operation may run once more on the new connection.
  bool reconnectedAfterSessionGone() {
    if (!sessionGone_ || connectedHere_) return false;
    connection_.disconnect();
    connect();
    connectedHere_ = true;
    sessionGone_ = false;
    return connection_.service != nullptr;
  }

 private:
  void connect() {
    bool hung = false;
    if (!connection_.connect(cancellable_, hung) && hung) noAnswer();
    hung_ = hung;
  }
  void noAnswer() { connection_.quietUntil = std::chrono::steady_clock::now() + bound_; }

  Connection& connection_;
  std::chrono::milliseconds bound_;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  bool hung_ = false;
  bool connectedHere_ = false;
  bool sessionGone_ = false;
  // Declared last, so that the watchdog ends (and can no longer cancel) before the cancellable
  // is released.
  Owned<GCancellable> cancellableOwner_{g_cancellable_new()};
  GCancellable* cancellable_ = cancellableOwner_.get();
  Watchdog watchdog_{cancellable_, bound_};
};

SecretServiceKeychain::SecretServiceKeychain(std::chrono::milliseconds bound)
    : bound_(bound), connection_(std::make_unique<Connection>()) {
  const Call call(*connection_, bound_);
  answered_ = call.service() != nullptr;
  absent_ = !answered_ && !call.hung();
}

SecretServiceKeychain::~SecretServiceKeychain() = default;

// Every operation: the query checked, then one call at a time on a connected service.
template <typename Operation>
OSStatus SecretServiceKeychain::serve(const KeychainQuery& query, Operation operation) {
  const Attributes attributes(query);
  if (!attributes.valid()) return platform::errSecParam;
  const std::lock_guard lock(mutex_);
  Call call(*connection_, bound_);
  if (call.service() == nullptr) return platform::errSecNotAvailable;
  const OSStatus status = operation(call, attributes);
  // A keyring daemon restarted since the last call: the operation's one more try, within the same
  // bound, so that a long-running reader does not lose a read (and a badge) to the old session.
  if (call.reconnectedAfterSessionGone()) return operation(call, attributes);
  return status;
}

OSStatus SecretServiceKeychain::copyMatching(const KeychainQuery& query,
                                             platform::KeychainResult& result) {
  return serve(query, [&](Call& call, const Attributes& attributes) {
    GError* error = nullptr;
    // Without SECRET_SEARCH_UNLOCK: a locked item is found, never unlocked.
    const Items items = call.search(attributes, SECRET_SEARCH_NONE, &error);
    if (error != nullptr) return call.failed(error);
    SecretItem* item = items.first();  // an unlocked one when there is any
    if (item == nullptr) return platform::errSecItemNotFound;
    if (secret_item_get_locked(item) != FALSE) return platform::errSecInteractionNotAllowed;
    if (!query.returnData.value_or(false)) {
      result = platform::NotData{};
      return platform::errSecSuccess;
    }
    if (secret_item_load_secret_sync(item, call.cancellable(), &error) == FALSE) {
      return call.failed(error);
    }
    SecretValue* value = secret_item_get_secret(item);
    if (value == nullptr) return platform::errSecInteractionNotAllowed;  // locked since the search
    gsize length = 0;
    const auto* data = reinterpret_cast<const std::uint8_t*>(secret_value_get(value, &length));
    result = platform::Bytes(data, data + length);
    secret_value_unref(value);
    return platform::errSecSuccess;
  });
}

OSStatus SecretServiceKeychain::deleteItem(const KeychainQuery& query) {
  return serve(query, [&](Call& call, const Attributes& attributes) {
    GError* error = nullptr;
    const Items items = call.search(attributes, SECRET_SEARCH_ALL, &error);
    if (error != nullptr) return call.failed(error);
    if (items.list() == nullptr) return platform::errSecItemNotFound;
    if (items.anyLocked()) return platform::errSecInteractionNotAllowed;  // delete none of them
    for (GList* at = items.list(); at != nullptr; at = at->next) {
      if (secret_item_delete_sync(static_cast<SecretItem*>(at->data), call.cancellable(), &error) ==
          FALSE) {
        const OSStatus status = call.failed(error);
        if (status != platform::errSecItemNotFound) return status;  // else: already gone
      }
    }
    return platform::errSecSuccess;
  });
}

OSStatus SecretServiceKeychain::add(const KeychainQuery& attributes) {
  if (!attributes.account) return platform::errSecParam;
  return serve(attributes, [&](Call& call, const Attributes& match) {
    const AddLock lock(call.bus(), call.cancellable(), call.halfway());
    GError* error = nullptr;
    if (call.search(match, SECRET_SEARCH_NONE, &error).first() != nullptr) {
      return platform::errSecDuplicateItem;
    }
    if (error != nullptr) return call.failed(error);

    const Owned<SecretCollection> collection(
        secret_collection_for_alias_sync(call.service(), SECRET_COLLECTION_DEFAULT,
                                         SECRET_COLLECTION_NONE, call.cancellable(), &error));
    if (error != nullptr) return call.failed(error);
    // No default collection yet: making one asks the user for its password.
    if (!collection || secret_collection_get_locked(collection.get()) != FALSE) {
      return platform::errSecInteractionNotAllowed;
    }
    SecretValue* value = secretValue(attributes.valueData.value_or(platform::Bytes{}));
    const std::string label = *attributes.service + " (" + *attributes.account + ")";
    // With replace, the daemon itself replaces an item with the same attributes rather than make
    // a second one: a create that timed out here may still be carried out later, after another
    // add found no item and made one, and the keyring then still holds one item.
    const Owned<SecretItem> item(
        secret_item_create_sync(collection.get(), &kSchema, match.table(), label.c_str(), value,
                                SECRET_ITEM_CREATE_REPLACE, call.cancellable(), &error));
    secret_value_unref(value);
    if (!item) return call.failed(error);
    return platform::errSecSuccess;
  });
}

OSStatus SecretServiceKeychain::update(const KeychainQuery& query,
                                       const KeychainQuery& attributesToUpdate) {
  if (!attributesToUpdate.valueData || attributesToUpdate.entryCount() != 1) {
    return platform::errSecParam;
  }
  return serve(query, [&](Call& call, const Attributes& attributes) {
    GError* error = nullptr;
    const Items items = call.search(attributes, SECRET_SEARCH_ALL, &error);
    if (error != nullptr) return call.failed(error);
    if (items.anyLocked()) return platform::errSecInteractionNotAllowed;  // update none of them
    SecretValue* value = secretValue(*attributesToUpdate.valueData);
    OSStatus status = platform::errSecItemNotFound;
    for (GList* at = items.list(); at != nullptr; at = at->next) {
      if (secret_item_set_secret_sync(static_cast<SecretItem*>(at->data), value, call.cancellable(),
                                      &error) != FALSE) {
        status = platform::errSecSuccess;
        continue;
      }
      const OSStatus failed = call.failed(error);
      if (failed != platform::errSecItemNotFound) {  // else: deleted since the search
        status = failed;
        break;
      }
    }
    secret_value_unref(value);
    return status;
  });
}

}  // namespace tidingsbell::standin
