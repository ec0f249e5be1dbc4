// The editor side of every foreign call against runtime/api.8 as the
// compiler reads it: the routine table, each argument block's offsets and
// the records exchanged through them.
#include "editor_api_test_util.h"
#include "api8_layout.h"

struct Editor_Api_Layout : Api_Test {
    Api8 api;
    void SetUp() override {
        Api_Test::SetUp();
        api = read_api8();
        ASSERT_TRUE(api.ok) << api.errors;
        ASSERT_EQ(api.routines.size(), (size_t)NUM_FOREIGN_ROUTINES);
    }
};

TEST_F(Editor_Api_Layout, TableMatchesTheForeignSubProgramsOfApi8InOrder) {
    for (u32 i = 0; i < NUM_FOREIGN_ROUTINES; i++) {
        const Foreign_Routine &routine = foreign_routines[i];
        EXPECT_EQ(routine.id, i + 1);
        EXPECT_EQ(routine.name, api.routines[i].name) << "id " << i + 1;
        EXPECT_EQ(routine.name_length, api.routines[i].name.size());
        // The compiler matches an #import by this hash.
        EXPECT_EQ(routine.hash, api.routines[i].hash) << routine.name;
    }
}

TEST_F(Editor_Api_Layout, EveryBlockIsReadAndWrittenWhereApi8PutsItsFields) {
    for (u32 i = 0; i < NUM_FOREIGN_ROUTINES; i++) {
        const Api8_Routine &declared = api.routines[i];
        const Api_Block_Layout *layout = api_block_layout((u16)(i + 1));
        bool has_block = !declared.parameters.empty() || declared.has_result;
        ASSERT_EQ(layout != nullptr, has_block) << declared.name;
        if (!layout) continue;
        ASSERT_EQ(layout->num_parameters, declared.parameters.size()) << declared.name;
        for (u32 p = 0; p < layout->num_parameters; p++) {
            EXPECT_EQ(layout->parameters[p].offset, declared.parameters[p].offset) << declared.name << " parameter " << p;
            EXPECT_EQ(layout->parameters[p].size, declared.parameters[p].size) << declared.name << " parameter " << p;
        }
        ASSERT_EQ(layout->has_result != 0, declared.has_result) << declared.name;
        if (declared.has_result) {
            EXPECT_EQ(layout->result.offset, declared.result.offset) << declared.name;
            EXPECT_EQ(layout->result.size, declared.result.size) << declared.name;
        }
    }
}

TEST_F(Editor_Api_Layout, RecordsMatchApi8MemberByMember) {
    for (u32 i = 0; i < num_api_members; i++) {
        const Api_Member &m = api_members[i];
        const Api8_Record *record = api8_record(api, m.type_name);
        ASSERT_NE(record, nullptr) << m.type_name;
        if (!m.member) {
            EXPECT_EQ(record->size, m.size) << m.type_name;
            continue;
        }
        const Api8_Member *found = nullptr;
        for (const Api8_Member &d : record->members)
            if (d.name == m.member) found = &d;
        ASSERT_NE(found, nullptr) << m.type_name << "." << m.member;
        EXPECT_EQ(found->field.offset, m.offset) << m.type_name << "." << m.member;
        EXPECT_EQ(found->field.size, m.size) << m.type_name << "." << m.member;
    }
    // And no member of api.8's records is unknown to the editor.
    for (const Api8_Record &record : api.records) {
        u32 known = 0;
        bool listed = false;
        for (u32 i = 0; i < num_api_members; i++) {
            if (record.name != api_members[i].type_name) continue;
            listed = true;
            known += api_members[i].member != nullptr;
        }
        if (listed) {
            EXPECT_EQ(known, record.members.size()) << record.name;
        }
    }
}

// Each routine, called on a real file with its parameters zeroed inside a
// block of canary bytes, leaves every byte api.8 does not give it alone.
TEST_F(Editor_Api_Layout, NothingOutsideTheDeclaredFieldsIsTouched) {
    for (u32 i = 0; i < NUM_FOREIGN_ROUTINES; i++) {
        const Api8_Routine &declared = api.routines[i];
        open_text("alpha beta\r\ngamma\n  delta", "canary.txt");
        alignas(16) u8 block[1024];
        memset(block, 0xAA, sizeof(block));
        std::vector<bool> owned(sizeof(block), false);
        for (const Api8_Field &p : declared.parameters) {
            memset(block + p.offset, 0, p.size);
            for (u32 k = 0; k < p.size; k++) owned[p.offset + k] = true;
        }
        if (declared.has_result)
            for (u32 k = 0; k < declared.result.size; k++) owned[declared.result.offset + k] = true;
        handle_foreign_call(block, i + 1);
        for (u32 k = 0; k < sizeof(block); k++) {
            if (!owned[k]) {
                ASSERT_EQ(block[k], 0xAA) << declared.name << " wrote byte " << k;
            }
        }
        editor_text_init();
        text_hooks.now = fake_clock;
    }
}
