// ComposeEventNames: modern and legacy forms.
#include <gtest/gtest.h>

#include <string>

#include "agent/settings.h"

TEST(EventNamesTest, ModernNamesCarryUserAndSession)
{
    struct Case {
        const wchar_t* user;
        DWORD session;
        const wchar_t* print;
    } cases[] = {
        {L"alice", 1, L"Global\\alice_Orsanto_printevent_SESSION1"},
        {L"root", 0, L"Global\\root_Orsanto_printevent_SESSION0"},
        {L"Bob Smith", 12, L"Global\\Bob Smith_Orsanto_printevent_SESSION12"},
        {L"", 3, L"Global\\_Orsanto_printevent_SESSION3"},
        {L"x", 65536, L"Global\\x_Orsanto_printevent_SESSION65536"},
        {L"\u00E9l\u00E8ve", 2, L"Global\\\u00E9l\u00E8ve_Orsanto_printevent_SESSION2"},
    };
    for (const Case& c : cases) {
        EventNames names;
        ASSERT_TRUE(ComposeEventNames(false, c.user, c.session, &names));
        EXPECT_STREQ(c.print, names.print);
        EXPECT_STREQ(L"Global\\Orsanto_shared_printing_event", names.shared);
        EXPECT_STREQ(L"Global\\Orsanto_killevent", names.kill);
    }
}

TEST(EventNamesTest, LegacyNamesHaveNoNamespaceUserOrSession)
{
    for (DWORD session : {0u, 1u, 7u}) {
        EventNames names;
        ASSERT_TRUE(ComposeEventNames(true, L"alice", session, &names));
        EXPECT_STREQ(L"Orsanto_printevent", names.print);
        EXPECT_STREQ(L"Orsanto_shared_printing_event", names.shared);
        EXPECT_STREQ(L"Orsanto_killevent", names.kill);
    }
}

TEST(EventNamesTest, TheLongestUserNameFits)
{
    std::wstring user(63, L'u');  // GetUserNameW gives at most 63 characters
    EventNames names;
    ASSERT_TRUE(ComposeEventNames(false, user.c_str(), 99999, &names));
    EXPECT_EQ(L"Global\\" + user + L"_Orsanto_printevent_SESSION99999", std::wstring(names.print));
}

TEST(EventNamesTest, ANameThatDoesNotFitIsRefused)
{
    std::wstring user(300, L'u');
    EventNames names;
    EXPECT_FALSE(ComposeEventNames(false, user.c_str(), 1, &names));
}
