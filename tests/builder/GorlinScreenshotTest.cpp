// Renders the dialog, filled with a sample bitstream and TIM list and after a
// successful build, to <build>/screenshots/Gorlin.png, so that a reviewer can
// look at it. The build runs this test too (target gorlin_screenshot).
#include "tests/builder/GorlinDlgFixture.h"

#include <QPixmap>

#include <filesystem>

#ifndef GORLIN_SCREENSHOT_DIR
#error GORLIN_SCREENSHOT_DIR names the folder of the screenshot
#endif

namespace {

class GorlinScreenshot : public GorlinDlgFixture {};

TEST_F(GorlinScreenshot, FilledDialog) {
    // The sample lives beside the picture, so the paths it shows are stable.
    const std::filesystem::path folder = GORLIN_SCREENSHOT_DIR;
    const std::filesystem::path samples = folder / "sample";
    std::filesystem::create_directories(samples);
    const std::string bit = (samples / "dsp_if.bit").string();
    qel::fixtures::BitHeader header;
    header.design = "dsp_if.ncd;UserID=0xFFFFFFFF";
    header.part = "2v1000fg456";
    header.date = "2026/01/15";
    header.time = "09:41:07";
    qel::fixtures::WriteFile(
        bit, qel::fixtures::MakeBitFile(header, qel::fixtures::MakeBitstreamBody(64 * 1024)));
    std::filesystem::remove(samples / "dsp_if_2v1000v1p2.sbf");

    Open();
    Browse("buttonBrowseInput", bit);
    Type("editMajor", "1");
    Type("editMinor", "2");
    Type("editComment", "DSP interface, revision B: wider EMIF bus and the new clock tree.");
    for (const char* name : {"QT-6201", "QT-6202C", "QT-6403"}) Toggle(name);
    Click("buttonBuild");
    ASSERT_EQ(Status(), "success");
    // Every check mark in plain sight, no text cursor.
    Tree()->clearSelection();
    Find<QPushButton>("buttonBuild")->setFocus();
    ASSERT_TRUE(std::filesystem::exists(samples / "dsp_if_2v1000v1p2.sbf"));

    const QString png = QString::fromStdString((folder / "Gorlin.png").string());
    const QPixmap picture = dlg_->grab();
    ASSERT_FALSE(picture.isNull());
    ASSERT_TRUE(picture.save(png, "PNG")) << png.toStdString();
    std::printf("Gorlin screenshot: %s\n", qPrintable(png));
}

}  // namespace
