// Auto team farm system: its registrations against a recording kernel, and
// its sign-up, waiting and withdrawal flow against the reference host's
// in-memory kernel and team module.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AutoTeamFarmSystem.h"
#include "RecordingKernel.h"
#include "VarList.h"

namespace {

// ---- registrations ------------------------------------------------------------------

TEST(AutoTeamFarmRegistration, AfterInitRegistersEightHandlersInOrder) {
    RecordingKernel kernel;
    AutoTeamFarmSystem module;
    EXPECT_TRUE(module.AfterInit(&kernel));
    const std::vector<std::string> expected = {
        "AddClassCallback(player, OnStore, fn, 3)",
        "AddClassCallback(player, OnLeave, fn, 3)",
        "AddCommandHook(player, 742, fn, 3)",
        "AddCommandHook(player, 1002, fn, 3)",
        "AddCommandHook(player, 141, fn, 5)",
        "AddCustomHook(150493, fn, 3)",
        "AddCustomHook(150497, fn, 3)",
        "DeclareHeartBeat(AutoTeamFarmSystem::H_WaitLaunchFight, fn)",
    };
    EXPECT_EQ(kernel.Texts(), expected);
}

TEST(AutoTeamFarmRegistration, AfterInitRegistersEvenWhenInitFoundNoTeamModule) {
    RecordingKernel kernel;
    AutoTeamFarmSystem module;
    EXPECT_FALSE(module.Init(&kernel));
    kernel.ClearCalls();
    EXPECT_TRUE(module.AfterInit(&kernel));
    EXPECT_EQ(kernel.Count("AddClassCallback") + kernel.Count("AddCommandHook") +
                  kernel.Count("AddCustomHook") + kernel.Count("DeclareHeartBeat"),
              8u);
}

// The 742 hook answers 0 for a signed-up player: a way to tell that the
// registered function is the guarded handler and not some other one.
TEST(AutoTeamFarmRegistration, RegisteredFightLockHookAnswersForSignedUpPlayer) {
    RecordingKernel kernel;
    AutoTeamFarmSystem module;
    module.AfterInit(&kernel);
    KernelCallback hook = kernel.CommandHook("player", 742);
    ASSERT_NE(hook, nullptr);

    const ObjectId player{1, 1};
    const ObjectId farm{2, 1};
    kernel.live = {player, farm};
    CVarList args;
    args.AddInt(742);
    EXPECT_EQ(hook(&kernel, player, player, args), 1);  // no AutoTeamFarm property

    kernel.Always("FindAttr", true);
    kernel.Always("QueryObject", farm);
    EXPECT_EQ(hook(&kernel, player, player, args), 0);
}

}  // namespace
