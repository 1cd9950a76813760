// Command delivery to a player known only by name: here, online elsewhere, or
// offline, only the first way that applies being tried.
#include "Extern.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "RecordingKernel.h"
#include "VarList.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const ObjectId kSelf{11, 1};
const ObjectId kPlayer{22, 3};
const ObjectId kOfflineId{99, 7};

class CommandToPlayerNameTest : public ::testing::Test {
protected:
    CommandToPlayerNameTest() {
        msg.AddInt(1002);
        msg.AddString("farm");
    }

    bool Send(const char16_t* name = u"Alice") {
        return CommandToPlayerName(&kernel, kSelf, name, msg);
    }

    RecordingKernel kernel;
    CVarList msg;
};

TEST_F(CommandToPlayerNameTest, PlayerHereGetsCommandFromLiveSelf) {
    kernel.live = {kSelf, kPlayer};
    kernel.Always("FindPlayer", kPlayer);
    EXPECT_TRUE(Send());
    EXPECT_THAT(kernel.Texts(),
                ElementsAre("FindPlayer(Alice)", "Exists(id(22,3))", "Exists(id(11,1))",
                            "Command(id(11,1), id(22,3), [1002, \"farm\"])"));
}

TEST_F(CommandToPlayerNameTest, PlayerHereIsOwnSenderWhenSelfIsGone) {
    kernel.live = {kPlayer};
    kernel.Always("FindPlayer", kPlayer);
    EXPECT_TRUE(Send());
    auto commands = kernel.CallsOf("Command");
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0]->args[0], "id(22,3)");
    EXPECT_EQ(commands[0]->args[1], "id(22,3)");
}

TEST_F(CommandToPlayerNameTest, RefusedCommandHereIsFinal) {
    kernel.live = {kSelf, kPlayer};
    kernel.Always("FindPlayer", kPlayer);
    kernel.Always("Command", 0);
    kernel.Always("GetPlayerOnline", 1);
    kernel.Always("CommandByName", 1);
    EXPECT_FALSE(Send());
    EXPECT_EQ(kernel.Count("GetPlayerOnline"), 0u);
    EXPECT_EQ(kernel.Count("CommandByName"), 0u);
    EXPECT_EQ(kernel.Count("QueryOfflinePlayer"), 0u);
}

TEST_F(CommandToPlayerNameTest, MessageReachesKernelUnchanged) {
    msg.AddWideStr(u"\u5F20\u4E09");
    msg.AddObject(kSelf);
    kernel.live = {kPlayer};
    kernel.Always("FindPlayer", kPlayer);
    Send();
    auto commands = kernel.CallsOf("Command");
    ASSERT_EQ(commands.size(), 1u);
    const CVarList& sent = *commands[0]->list;
    ASSERT_EQ(sent.GetCount(), 4u);
    EXPECT_EQ(sent.IntVal(0), 1002);
    EXPECT_STREQ(sent.StringVal(1), "farm");
    EXPECT_EQ(std::u16string(sent.WideStrVal(2)), u"\u5F20\u4E09");
    EXPECT_EQ(sent.ObjectVal(3), kSelf);
}

TEST_F(CommandToPlayerNameTest, FoundButDeadPlayerFallsThroughToOnlineCheck) {
    kernel.Always("FindPlayer", kPlayer);  // a stale handle: not live
    kernel.Always("GetPlayerOnline", 1);
    kernel.Always("CommandByName", 5);
    EXPECT_TRUE(Send());
    EXPECT_EQ(kernel.Count("Command"), 0u);
    EXPECT_THAT(kernel.Texts({"CommandByName"}),
                ElementsAre("CommandByName(Alice, [1002, \"farm\"])"));
}

TEST_F(CommandToPlayerNameTest, OnlineElsewhereNeverTriesOfflineEvenWhenRefused) {
    kernel.Always("GetPlayerOnline", 2);
    kernel.Always("CommandByName", 0);
    kernel.Always("QueryOfflinePlayer", 1);
    EXPECT_FALSE(Send());
    EXPECT_THAT(kernel.Ops(),
                ElementsAre("FindPlayer", "Exists", "GetPlayerOnline", "CommandByName"));
}

TEST_F(CommandToPlayerNameTest, NegativeOnlineCountMeansNotOnline) {
    kernel.Always("GetPlayerOnline", -1);
    EXPECT_FALSE(Send());
    EXPECT_EQ(kernel.Count("CommandByName"), 0u);
    EXPECT_EQ(kernel.Count("QueryOfflinePlayer"), 1u);
}

TEST_F(CommandToPlayerNameTest, OfflinePlayerWithDeadSelfGoesWithEmptySenderName) {
    CVarList info;
    info.AddObject(kOfflineId);
    kernel.Then("QueryOfflinePlayer", Reply(1).Filling(info));
    kernel.Always("GetNameId", 41);
    kernel.Always("CheckOfflinePlayer", 1);
    kernel.Always("CommandOffline", true);
    EXPECT_TRUE(Send());
    EXPECT_EQ(kernel.Count("QueryWideStr"), 0u);
    EXPECT_THAT(
        kernel.Texts({"QueryOfflinePlayer", "GetNameId", "CheckOfflinePlayer", "CommandOffline"}),
        ElementsAre("QueryOfflinePlayer(Alice, [])", "GetNameId()",
                    "CheckOfflinePlayer(Alice, id(99,7))",
                    "CommandOffline(Alice, id(99,7), , 41, [1002, \"farm\"])"));
}

TEST_F(CommandToPlayerNameTest, OfflinePlayerWithLiveSelfUsesSelfName) {
    kernel.live = {kSelf};
    CVarList info;
    info.AddObject(kOfflineId);
    kernel.Then("QueryOfflinePlayer", Reply(3).Filling(info));
    kernel.Always("QueryWideStr", u"Bob");
    kernel.Always("GetNameId", 8);
    kernel.Always("CheckOfflinePlayer", 1);
    kernel.Always("CommandOffline", false);
    EXPECT_FALSE(Send());  // the offline queue's refusal is the answer
    EXPECT_THAT(kernel.Texts({"QueryWideStr", "GetNameId", "CommandOffline"}),
                ElementsAre("QueryWideStr(id(11,1), Name)", "GetNameId(Bob)",
                            "CommandOffline(Alice, id(99,7), Bob, 8, [1002, \"farm\"])"));
}

TEST_F(CommandToPlayerNameTest, NoOfflinePlayerStopsBeforeNameIdAndDelivery) {
    for (int answer : {0, -4}) {
        kernel.ClearCalls();
        kernel.Then("QueryOfflinePlayer", answer);
        EXPECT_FALSE(Send()) << answer;
        EXPECT_EQ(kernel.Count("QueryOfflinePlayer"), 1u);
        EXPECT_EQ(kernel.Count("GetNameId"), 0u);
        EXPECT_EQ(kernel.Count("CheckOfflinePlayer"), 0u);
        EXPECT_EQ(kernel.Count("CommandOffline"), 0u);
    }
}

TEST_F(CommandToPlayerNameTest, FailedOfflineCheckStopsBeforeDelivery) {
    CVarList info;
    info.AddObject(kOfflineId);
    kernel.Then("QueryOfflinePlayer", Reply(1).Filling(info));
    kernel.Always("CheckOfflinePlayer", 0);
    EXPECT_FALSE(Send());
    EXPECT_EQ(kernel.Count("GetNameId"), 1u);
    EXPECT_EQ(kernel.Count("CommandOffline"), 0u);
}

TEST_F(CommandToPlayerNameTest, OfflineInfoWithoutObjectUsesNullId) {
    CVarList info;
    info.AddString("not an id");
    kernel.Then("QueryOfflinePlayer", Reply(1).Filling(info));
    kernel.Always("CheckOfflinePlayer", 1);
    EXPECT_TRUE(Send());
    EXPECT_THAT(kernel.Texts({"CheckOfflinePlayer"}),
                ElementsAre("CheckOfflinePlayer(Alice, id(0,0))"));
}

TEST_F(CommandToPlayerNameTest, NoWayFindsThePlayer) {
    EXPECT_FALSE(Send());
    EXPECT_EQ(kernel.Count("CommandOffline"), 0u);
}

TEST_F(CommandToPlayerNameTest, NullNameOrKernelIsRefusedWithoutCalls) {
    EXPECT_FALSE(CommandToPlayerName(&kernel, kSelf, nullptr, msg));
    EXPECT_FALSE(CommandToPlayerName(nullptr, kSelf, u"Alice", msg));
    EXPECT_THAT(kernel.Calls(), IsEmpty());
}

}  // namespace
