#include <windows.h>

#include <gtest/gtest.h>

#include "form/EventTable.h"

TEST(Rig, RunsUnderCodePage936)
{
    EXPECT_EQ(936u, GetACP());
}

TEST(EventTable, DispatchReportsWhetherAHandlerRan)
{
    EventRecord record;
    record.formId = 1;
    record.unitId = 2;
    record.eventNumber = 3;
    EXPECT_FALSE(DispatchEvent(record).handlerRan);

    int32_t seen = 0;
    const char* text = "abc";
    BindEvent(1, 2, 3, [&](const EventRecord& r) -> std::optional<int32_t> {
        seen = EventArgInt(r, 0);
        EXPECT_STREQ("abc", EventArgText(r, 1));
        return 7;
    });
    record.argCount = 2;
    record.args[0] = MakeIntArg(42);
    record.args[1] = MakeTextRefArg(&text);
    DispatchResult result = DispatchEvent(record);
    EXPECT_TRUE(result.handlerRan);
    EXPECT_TRUE(result.hasValue);
    EXPECT_EQ(7, result.value);
    EXPECT_EQ(42, seen);

    UnbindControlEvents(1, 2);
    EXPECT_FALSE(DispatchEvent(record).handlerRan);
}
