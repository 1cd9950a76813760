// Arbitrary bytes as a class-definition file, declared through a recording
// kernel. The first byte picks which kinds of declaration the kernel refuses,
// so the error reports run too.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "../tests/RecordingKernel.h"
#include "KernelWrapper.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

std::string g_dir;

void RemoveDir() {
    if (g_dir.empty()) return;
    ::unlink((g_dir + "/class.xml").c_str());
    ::rmdir(g_dir.c_str());
}

const std::string& Dir() {
    if (g_dir.empty()) {
        char pattern[] = "/tmp/class_xml_fuzz_XXXXXX";
        if (mkdtemp(pattern) == nullptr) std::abort();
        g_dir = pattern;
        std::atexit(RemoveDir);
    }
    return g_dir;
}

const char* const kRefusable[] = {
    "AddProperty", "AddPropertySaveMode", "AddVisibleProperty", "AddVisiblePropertySaveMode",
    "AddRecord",   "AddRecordSaveMode",   "SetRecordColType",   "SetRecordVisible"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t refuse = data[0];
    const std::string path = Dir() + "/class.xml";
    std::FILE* fp = std::fopen(path.c_str(), "wb");
    if (fp == nullptr) std::abort();
    std::fwrite(data + 1, 1, size - 1, fp);
    std::fclose(fp);

    RecordingKernel kernel;
    kernel.resourcePath = Dir() + "/";
    for (int bit = 0; bit < 8; ++bit)
        if (refuse & (1u << bit)) kernel.Always(kRefusable[bit], false);

    const bool read = OnCreateClassFromXml(&kernel, 1, "class.xml");

    // Every refusal is reported once on each channel, message then location.
    size_t refusals = 0;
    for (const Call& c : kernel.Calls())
        for (int bit = 0; bit < 8; ++bit)
            if ((refuse & (1u << bit)) && c.op == kRefusable[bit]) ++refusals;
    Check(kernel.Count("Echo") == 2 * refusals);
    Check(kernel.Count("Trace") == 2 * refusals);
    if (!read) Check(kernel.Calls().size() == 1);  // only the resource path was asked
    return 0;
}
