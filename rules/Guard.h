// No exception may cross into the host: every function the plug-in hands the
// kernel is registered through these wrappers, which turn an escaping
// exception (in practice an allocation failure) into a Trace line and the
// ordinary result 1.
#pragma once

#include <exception>
#include <string>

#include "IKernel.h"

namespace guard_detail {
inline void LogEscape(IKernel* kernel, const char* what) {
    if (kernel == nullptr) return;
    try {
        std::string line = "[Error]exception in rules callback: ";
        line += what;
        kernel->Trace(line.c_str());
    } catch (...) {
    }
}

// call() or, when it throws, a Trace line and 1.
template <typename Call>
int Run(IKernel* kernel, const Call& call) noexcept {
    try {
        return call();
    } catch (const std::exception& e) {
        LogEscape(kernel, e.what());
    } catch (...) {
        LogEscape(kernel, "unknown");
    }
    return 1;
}
}  // namespace guard_detail

template <KernelCallback F>
int Guarded(IKernel* kernel, const ObjectId& self, const ObjectId& sender,
            const IVarList& args) noexcept {
    return guard_detail::Run(kernel, [&] { return F(kernel, self, sender, args); });
}

template <HeartBeatFunc F>
int GuardedBeat(IKernel* kernel, const ObjectId& obj) noexcept {
    return guard_detail::Run(kernel, [&] { return F(kernel, obj); });
}
