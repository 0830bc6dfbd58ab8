#pragma once
// The runtime's blocks, with every copy and release made through these macros counted, so that a
// test can see each Block_copy matched by a Block_release.
#include_next <Block.h>

#undef Block_copy
#undef Block_release
extern "C" void* tidingsbell_countedBlockCopy(const void* block);
extern "C" void tidingsbell_countedBlockRelease(const void* block);
#define Block_copy(x) ((__typeof(x))tidingsbell_countedBlockCopy((const void*)(x)))
#define Block_release(x) tidingsbell_countedBlockRelease((const void*)(x))
