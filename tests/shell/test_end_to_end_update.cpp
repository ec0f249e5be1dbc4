// An update in the real editor: the server offers a newer version, the
// "Update" button of the top bar opens the update tab, whose downloader
// fetches the update data; the editor then quits for the real updater,
// which installs what the data holds.
#include <gtest/gtest.h>
#include "test_end_to_end_util.h"
#include "update_test_server.h"
#include <algorithm>
#include <stdlib.h>

// The default layer's highlight colour (0.27, 0.47, 0.75 on screen), which
// the "Update" button is drawn in, within the top bar.
static bool update_button(const Rgb_Image &img, Box *box) {
    *box = {img.width, img.height, -1, -1};
    for (int y = 0; y < 24 && y < img.height; y++)
        for (int x = 0; x < 400 && x < img.width; x++) {
            const unsigned char *p = img.at(x, y);
            if (abs(p[0] - 69) > 12 || abs(p[1] - 120) > 12 || abs(p[2] - 191) > 12) continue;
            box->left = std::min(box->left, x);
            box->right = std::max(box->right, x);
            box->top = std::min(box->top, y);
            box->bottom = std::max(box->bottom, y);
        }
    return box->right - box->left > 20;
}

TEST(End_To_End_Update, TheUpdateButtonDownloadsAndTheUpdaterInstalls) {
    Update_Test_Server server;
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(server.put("binaries/tarno/version_info.bin", std::string("\0\4\0", 3)));
    End_To_End_Editor e2e;
    std::string packed;
    setenv("TARNO_UPDATE_SERVER", server.address().c_str(), 1);
    bool started = e2e.start("", [&](End_To_End_Editor &e) {
        // A payload big enough to come in several pieces.
        std::string notes = "installed by the updater\n" + std::string(400000, '.');
        write_whole_file(e.work + "/release_notes.txt", notes);
        packed = e.work + "/tarno_latest_v1.bin";
        run_command("'" + e.bin + "/updater' --pack '" + packed + "' '" + e.work + "/release_notes.txt'");
    });
    unsetenv("TARNO_UPDATE_SERVER");
    ASSERT_TRUE(started) << e2e.start_error;
    std::string data;
    ASSERT_TRUE(read_whole_file(packed, &data) && data.size() > 400000) << "updater --pack made nothing";
    ASSERT_TRUE(server.put("binaries/tarno/tarno_latest_v1.bin", data));

    Rgb_Image img;
    Box box;
    ASSERT_TRUE(wait_until([&] { return e2e.screenshot(&img) && update_button(img, &box); })) << "no Update button";
    e2e.click((box.left + box.right) / 2, (box.top + box.bottom) / 2);
    EXPECT_TRUE(wait_until([&] { return server.was_asked_for("binaries/tarno/tarno_latest_v1.bin"); }))
        << "the update tab did not start the download";
    ASSERT_TRUE(e2e.editor.wait_for_exit(E2E_DEADLINE)) << "the editor did not quit for the updater";
    EXPECT_EQ(e2e.editor.exit_status, 0);
    std::string installed;
    EXPECT_TRUE(wait_until([&] {
        return read_whole_file(e2e.bin + "/release_notes.txt", &installed) &&
               installed.compare(0, 25, "installed by the updater\n") == 0;
    })) << "the updater installed nothing";
    EXPECT_TRUE(wait_until([&] { return access((e2e.bin + "/update.data").c_str(), F_OK) != 0; }))
        << "the updater leaves its data behind";
}
