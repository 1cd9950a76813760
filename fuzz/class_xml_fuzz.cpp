// Arbitrary bytes as a class-definition file, declared through a recording
// kernel. The first byte picks which kinds of declaration the kernel refuses,
// so the error reports run too. Files within the nesting bounds are parsed
// again on their own: the element depth the parser reaches must be exactly
// the depth the bounds walk predicted, so the walk cannot fall out of step
// with the parser and let a deeper file through.
#include <tinyxml.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "../tests/RecordingKernel.h"
#include "KernelWrapper.h"
#include "XmlBounds.h"

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

int ElementDepth(const TiXmlNode* node) {
    int deepest = 0;
    for (const TiXmlNode* c = node->FirstChild(); c != nullptr; c = c->NextSibling()) {
        if (c->Type() == TiXmlNode::TINYXML_ELEMENT)
            deepest = std::max(deepest, 1 + ElementDepth(c));
    }
    return deepest;
}

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

    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const XmlBounds bounds = CheckXmlFileBounds(bytes, size - 1);
    if (!bounds.within) {
        Check(!read && bounds.line >= 1);
        return 0;
    }
    Check(bounds.depth <= kMaxXmlDepth);
    std::string text = NormaliseXmlText(bytes, size - 1);
    text.resize(text.size() + 16, '\0');
    TiXmlDocument doc;
    doc.Parse(text.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
    Check(ElementDepth(&doc) == bounds.depth);
    Check(read == !doc.Error());
    return 0;
}
