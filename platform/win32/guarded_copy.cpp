// The copy is a small routine of its own whose every instruction is known: a vectored
// exception handler that sees EXCEPTION_IN_PAGE_ERROR raised inside it resumes the
// routine at its failure exit, which returns 0. The routine keeps nothing on the stack
// and uses only registers a call may change, so resuming there is always sound. Vectored
// handlers exist from Windows XP on.
#include "platform/guarded_copy.h"

#include <windows.h>

#include <cstdint>

extern "C" char GuardedCopyFailed[] __asm__("kst_guarded_copy_failed");
extern "C" char GuardedCopyEnd[] __asm__("kst_guarded_copy_end");

namespace {

#ifdef _WIN64
// rcx: to, rdx: from, r8: size. Eight bytes at a time, then the rest byte by byte.
__attribute__((naked, noinline, noclone)) int GuardedCopyRoutine(void*, const void*, size_t) {
  __asm__(
    "  cmp $8, %r8\n"
    "  jb 2f\n"
    "1:\n"
    "  mov (%rdx), %rax\n"
    "  mov %rax, (%rcx)\n"
    "  add $8, %rdx\n"
    "  add $8, %rcx\n"
    "  sub $8, %r8\n"
    "  cmp $8, %r8\n"
    "  jae 1b\n"
    "2:\n"
    "  test %r8, %r8\n"
    "  jz 3f\n"
    "4:\n"
    "  movb (%rdx), %al\n"
    "  movb %al, (%rcx)\n"
    "  inc %rdx\n"
    "  inc %rcx\n"
    "  dec %r8\n"
    "  jnz 4b\n"
    "3:\n"
    "  mov $1, %eax\n"
    "  ret\n"
    "kst_guarded_copy_failed:\n"
    "  xor %eax, %eax\n"
    "  ret\n"
    "kst_guarded_copy_end:\n");
}
#else
// cdecl: to, from and size on the stack; size is counted down in its own slot.
__attribute__((naked, noinline, noclone)) int GuardedCopyRoutine(void*, const void*, size_t) {
  __asm__(
    "  mov 4(%esp), %ecx\n"
    "  mov 8(%esp), %edx\n"
    "1:\n"
    "  cmpl $4, 12(%esp)\n"
    "  jb 2f\n"
    "  mov (%edx), %eax\n"
    "  mov %eax, (%ecx)\n"
    "  add $4, %edx\n"
    "  add $4, %ecx\n"
    "  subl $4, 12(%esp)\n"
    "  jmp 1b\n"
    "2:\n"
    "  cmpl $0, 12(%esp)\n"
    "  je 3f\n"
    "  movb (%edx), %al\n"
    "  movb %al, (%ecx)\n"
    "  inc %edx\n"
    "  inc %ecx\n"
    "  decl 12(%esp)\n"
    "  jmp 2b\n"
    "3:\n"
    "  mov $1, %eax\n"
    "  ret\n"
    "kst_guarded_copy_failed:\n"
    "  xor %eax, %eax\n"
    "  ret\n"
    "kst_guarded_copy_end:\n");
}
#endif

}  // namespace

namespace platform {
namespace {

LONG CALLBACK OnPageError(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode != EXCEPTION_IN_PAGE_ERROR) return EXCEPTION_CONTINUE_SEARCH;
  auto at = reinterpret_cast<uintptr_t>(info->ExceptionRecord->ExceptionAddress);
  if (at < reinterpret_cast<uintptr_t>(&GuardedCopyRoutine) || at >= reinterpret_cast<uintptr_t>(GuardedCopyEnd))
    return EXCEPTION_CONTINUE_SEARCH;
#ifdef _WIN64
  info->ContextRecord->Rip = reinterpret_cast<DWORD64>(GuardedCopyFailed);
#else
  info->ContextRecord->Eip = reinterpret_cast<DWORD>(GuardedCopyFailed);
#endif
  return EXCEPTION_CONTINUE_EXECUTION;
}

// Registered at the first guarded copy; removed when the module is unloaded, since the
// handler lives in it.
struct Registration {
  Registration() : handle(AddVectoredExceptionHandler(1, OnPageError)) {}
  ~Registration() {
    if (handle) RemoveVectoredExceptionHandler(handle);
  }
  void* handle;
};

}  // namespace

bool GuardedCopy(void* to, const void* from, size_t size) {
  static Registration registration;
  return GuardedCopyRoutine(to, from, size) != 0;
}

}  // namespace platform
