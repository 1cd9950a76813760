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
}  // namespace guard_detail

template <KernelCallback F>
int Guarded(IKernel* kernel, const ObjectId& self, const ObjectId& sender,
            const IVarList& args) noexcept {
    try {
        return F(kernel, self, sender, args);
    } catch (const std::exception& e) {
        guard_detail::LogEscape(kernel, e.what());
    } catch (...) {
        guard_detail::LogEscape(kernel, "unknown");
    }
    return 1;
}

template <HeartBeatFunc F>
int GuardedBeat(IKernel* kernel, const ObjectId& obj) noexcept {
    try {
        return F(kernel, obj);
    } catch (const std::exception& e) {
        guard_detail::LogEscape(kernel, e.what());
    } catch (...) {
        guard_detail::LogEscape(kernel, "unknown");
    }
    return 1;
}
