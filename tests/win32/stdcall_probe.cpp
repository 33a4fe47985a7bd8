// The probe is a few lines of assembly, so that no compiler-made stack
// adjustment can hide what the callee did to ESP.
#include "tests/win32/stdcall_probe.h"

extern "C" int32_t HoundProbeCall(const void* function, const uint32_t* args, uint32_t count,
                                  uint64_t* result);

// cdecl: HoundProbeCall(function, args, count, result) -> imbalance in bytes.
// The arguments are copied to a 16-byte aligned block at the top of the stack,
// the function is called, and ESP is compared with the block's address plus
// the block's size, which is where a callee that removes its arguments leaves
// it. ESP is then restored from EBX whatever the callee did.
asm(R"(
    .text
    .globl _HoundProbeCall
_HoundProbeCall:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl %esp, %ebx
    movl 16(%ebp), %ecx
    leal (,%ecx,4), %edx
    subl %edx, %esp
    andl $-16, %esp
    movl %esp, %edi
    movl 12(%ebp), %esi
    cld
    rep movsl
    movl %esp, %edi
    movl 8(%ebp), %eax
    call *%eax
    movl 20(%ebp), %ecx
    movl %eax, (%ecx)
    movl %edx, 4(%ecx)
    movl 16(%ebp), %ecx
    leal (%edi,%ecx,4), %edx
    movl %esp, %eax
    subl %edx, %eax
    movl %ebx, %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
)");

ProbedCall CallProbed(const void* function, const std::vector<uint32_t>& args) {
    ProbedCall call{};
    call.imbalance =
        HoundProbeCall(function, args.data(), static_cast<uint32_t>(args.size()), &call.result);
    return call;
}
