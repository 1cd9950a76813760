// The wrappers every plug-in callback is registered through: an exception
// must end as one Trace line and the ordinary answer 1, never reach the host.
#include "Guard.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "RecordingKernel.h"
#include "VarList.h"

namespace {

std::vector<std::string> TraceLines(const RecordingKernel& k) {
    std::vector<std::string> out;
    for (const Call* c : k.CallsOf("Trace")) out.push_back(c->args[0]);
    return out;
}

int AnswersSeven(IKernel*, const ObjectId&, const ObjectId&, const IVarList& args) {
    return args.IntVal(0) + 7;
}
int ThrowsRuntimeError(IKernel*, const ObjectId&, const ObjectId&, const IVarList&) {
    throw std::runtime_error("table row 3 missing");
}
int ThrowsBadAlloc(IKernel*, const ObjectId&, const ObjectId&, const IVarList&) {
    throw std::bad_alloc();
}
int ThrowsInt(IKernel*, const ObjectId&, const ObjectId&, const IVarList&) {
    throw 42;
}

int BeatAnswersZero(IKernel*, const ObjectId&) {
    return 0;
}
int BeatThrowsRuntimeError(IKernel*, const ObjectId&) {
    throw std::runtime_error("beat failed");
}
int BeatThrowsInt(IKernel*, const ObjectId&) {
    throw 42;
}

TEST(Guard, CallbackAnswerPassesThroughUntouched) {
    RecordingKernel k;
    CVarList args;
    args.AddInt(5);
    EXPECT_EQ((Guarded<&AnswersSeven>(&k, ObjectId{1, 1}, ObjectId{2, 1}, args)), 12);
    EXPECT_TRUE(k.Calls().empty());
}

TEST(Guard, CallbackExceptionBecomesOneTraceLineAndAnswerOne) {
    RecordingKernel k;
    CVarList args;
    EXPECT_EQ((Guarded<&ThrowsRuntimeError>(&k, ObjectId{1, 1}, ObjectId{}, args)), 1);
    EXPECT_EQ((Guarded<&ThrowsBadAlloc>(&k, ObjectId{1, 1}, ObjectId{}, args)), 1);
    EXPECT_EQ((Guarded<&ThrowsInt>(&k, ObjectId{1, 1}, ObjectId{}, args)), 1);
    EXPECT_EQ(TraceLines(k),
              (std::vector<std::string>{
                  "[Error]exception in rules callback: table row 3 missing",
                  "[Error]exception in rules callback: " + std::string(std::bad_alloc().what()),
                  "[Error]exception in rules callback: unknown"}));
}

TEST(Guard, HeartbeatAnswerPassesThroughAndExceptionBecomesAnswerOne) {
    RecordingKernel k;
    EXPECT_EQ(GuardedBeat<&BeatAnswersZero>(&k, ObjectId{3, 1}), 0);
    EXPECT_EQ(GuardedBeat<&BeatThrowsRuntimeError>(&k, ObjectId{3, 1}), 1);
    EXPECT_EQ(GuardedBeat<&BeatThrowsInt>(&k, ObjectId{3, 1}), 1);
    EXPECT_EQ(TraceLines(k),
              (std::vector<std::string>{"[Error]exception in rules callback: beat failed",
                                        "[Error]exception in rules callback: unknown"}));
}

TEST(Guard, ExceptionWithoutKernelIsStillSwallowed) {
    CVarList args;
    EXPECT_EQ((Guarded<&ThrowsRuntimeError>(nullptr, ObjectId{}, ObjectId{}, args)), 1);
    EXPECT_EQ(GuardedBeat<&BeatThrowsInt>(nullptr, ObjectId{}), 1);
}

}  // namespace
