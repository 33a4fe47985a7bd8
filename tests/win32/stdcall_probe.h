// Calls a function through its raw address with 32-bit argument slots and
// measures what the call did to the stack pointer: 0 for a callee that
// removed exactly its arguments (stdcall), -4 per slot for one that left
// them (cdecl).
#pragma once
#include <cstdint>
#include <vector>

struct ProbedCall {
    uint64_t result;    // EDX:EAX after the call
    int32_t imbalance;  // ESP after the call minus ESP before it, less the arguments
};

// args are pushed last first, so args[0] lies at the lowest address, as the
// first argument of a stdcall function does.
ProbedCall CallProbed(const void* function, const std::vector<uint32_t>& args);

// The 32-bit slot of a pointer argument.
inline uint32_t Slot(const void* pointer) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}
