// The client header's helpers, from C++ and from C: payloads are never
// trusted to hold their NUL, and every message identifier has its text.
#include <gtest/gtest.h>

#include <string>

#include "orsanto/client.h"

#include "client_header_c.h"

namespace {

std::string Block(const std::string& path, size_t size = ORSANTO_PAYLOAD_BYTES)
{
    std::string block(size, '\0');
    block.replace(0, path.size() < size ? path.size() : size, path.substr(0, size));
    return block;
}

}  // namespace

TEST(ClientHeader, TakesThePathOutOfAPayloadSafely)
{
    struct Case {
        const char* name;
        std::string block;
        size_t pathSize;
        bool found;
        const char* path;
    } cases[] = {
        {"ordinary", Block("C:\\Jobs\\j1.ini"), 260, true, "C:\\Jobs\\j1.ini"},
        {"259 characters", Block(std::string(259, 'p')), 260, true, nullptr},
        {"no NUL in 260 bytes", Block(std::string(260, 'p')), 260, false, ""},
        {"empty path", Block(""), 260, false, ""},
        {"short record", std::string("C:\\a"), 260, false, ""},
        {"NUL only past 260 bytes", Block(std::string(300, 'p'), 400), 260, false, ""},
        {"buffer too small", Block("C:\\Jobs\\j1.ini"), 8, false, ""},
    };
    for (const Case& c : cases) {
        for (int language = 0; language < 2; ++language) {
            char path[300];
            memset(path, 'x', sizeof(path));
            bool found = language == 0
                ? OrsantoPathFromPayload(c.block.data(), c.block.size(), path, c.pathSize) != FALSE
                : OrsantoCPathFromPayload(c.block.data(), c.block.size(), path, c.pathSize) != 0;
            EXPECT_EQ(c.found, found) << c.name << (language ? " (C)" : " (C++)");
            if (c.path != nullptr)
                EXPECT_STREQ(c.path, path) << c.name;
            else
                EXPECT_EQ(259u, strlen(path)) << c.name;
        }
    }
}

TEST(ClientHeader, TakesThePathOutOfACopyDataRecord)
{
    std::string block = Block("C:\\Jobs\\j2.ini");
    COPYDATASTRUCT record = {1234, ORSANTO_PAYLOAD_BYTES, &block[0]};
    char path[ORSANTO_PAYLOAD_BYTES];
    ASSERT_TRUE(OrsantoPathFromCopyData(&record, path, sizeof(path)));
    EXPECT_STREQ("C:\\Jobs\\j2.ini", path);
    EXPECT_FALSE(OrsantoPathFromCopyData(nullptr, path, sizeof(path)));
    record.lpData = nullptr;
    EXPECT_FALSE(OrsantoPathFromCopyData(&record, path, sizeof(path)));
}

TEST(ClientHeader, KnowsTheTextOfEveryMessage)
{
    const unsigned identifiers[] = {111, 112, 113, 0xF001, 0xF002, 0xF003, 0xF004,
                                    0xF005, 0xF006, 0xF007, 0xF008, 0xF009, 0xF010};
    for (unsigned id : identifiers) {
        ASSERT_NE(nullptr, OrsantoMessageText(id)) << id;
        EXPECT_STREQ(OrsantoMessageText(id), OrsantoCMessageText(id)) << id;
    }
    EXPECT_STREQ(L"Target application is inaccessible.", OrsantoMessageText(61447));
    EXPECT_STREQ(L"Cannot find converter executable.", OrsantoMessageText(0xF010));
    EXPECT_EQ(nullptr, OrsantoMessageText(0xF00A));
    EXPECT_EQ(nullptr, OrsantoMessageText(0));
}

TEST(ClientHeader, RegistersTheNotificationMessage)
{
    UINT message = OrsantoRegisterNotifyMessage();
    EXPECT_NE(0u, message);
    EXPECT_EQ(RegisterWindowMessageW(L"Orsanto_notify_message"), message);
}
