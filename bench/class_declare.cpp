// Declares one logic class of N properties (default 100,000) in the
// reference host's kernel, the way a plug-in does while its classes are
// created: IKernel::AddProperty per name. bench/instruction_goals.sh times
// it with /usr/bin/time; the program itself checks every declaration took.
//
//   class_declare_probe [N]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Kernel.h"

int main(int argc, char** argv) {
    const long count = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 100000;
    if (count <= 0) {
        std::fprintf(stderr, "usage: class_declare_probe [property count > 0]\n");
        return 2;
    }
    host::KernelOptions options;
    options.echoToTerminal = false;
    host::Kernel kernel(options);
    const int cls = kernel.DeclareClass("BenchWideClass");
    if (cls < 0) {
        std::fprintf(stderr, "the class could not be declared\n");
        return 1;
    }
    IKernel& k = kernel;
    long declared = 0;
    std::string name;
    for (long i = 0; i < count; ++i) {
        name = "Prop" + std::to_string(i);
        if (k.AddProperty(cls, name.c_str(), VTYPE_INT, false, "")) ++declared;
    }
    std::printf("declared %ld of %ld properties on one class\n", declared, count);
    return declared == count ? 0 : 1;
}
