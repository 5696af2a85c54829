#pragma once
// Helpers of the animation tests: an offscreen application per suite, small animations built
// in memory, and waiting for the GUI thread's queued calls.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "anim_gif.h"

// Creates the application object for one suite and removes it afterwards.
class AnimAppTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char name[] = "test_ads";
            static char* argv[] = {name, nullptr};
            app_ = new QApplication(argc, argv);
        }
    }
    static void TearDownTestSuite()
    {
        delete app_;
        app_ = nullptr;
    }

public:
    // Runs the GUI thread's events until done() holds; false after `ms` of real time.
    static bool PumpUntil(const std::function<bool()>& done, int ms = 10000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
        return true;
    }
    static void PumpFor(int ms)
    {
        PumpUntil([] { return false; }, ms);
    }

private:
    static inline QApplication* app_ = nullptr;
};

// Colours of the test palette, by index.
inline constexpr QRgb kBlack = 0xFF000000u, kWhite = 0xFFFFFFFFu, kRed = 0xFFFF0000u, kGreen = 0xFF00FF00u;

struct TestFrame {
    int left = 0, top = 0, width = 8, height = 8;
    int fill = 1;            // palette index of every pixel
    int delay = -1;          // -1: no graphic control extension
    int disposal = 0;
    int transparent = -1;    // palette index drawn transparent, -1: none
    int holeIndex = -1;      // when set, the left half of the frame uses this index
};

// An 8 x 8 animation on the palette black, white, red, green (background black).
inline void MakeAnimation(TAnimGif& gif, const std::vector<TestFrame>& frames, int loops = -1)
{
    gif.Clear();
    gif.Header.Width = 8;
    gif.Header.Height = 8;
    gif.Header.ColorMap.ImportPalette({kBlack, kWhite, kRed, kGreen});
    for (size_t i = 0; i < frames.size(); ++i) {
        const TestFrame& f = frames[i];
        auto frame = std::make_unique<TGIFSubImage>(&gif);
        frame->SetBounds(f.left, f.top, f.width, f.height);
        auto& pixels = frame->Data();
        pixels.assign(size_t(f.width) * size_t(f.height), uint8_t(f.fill));
        if (f.holeIndex >= 0)
            for (int y = 0; y < f.height; ++y)
                for (int x = 0; x < f.width / 2; ++x)
                    pixels[size_t(y * f.width + x)] = uint8_t(f.holeIndex);
        if (i == 0 && loops >= 0) {
            auto loop = std::make_unique<TGIFAppExtNSLoop>(frame.get());
            loop->Loops = uint16_t(loops);
            frame->AddExtension(std::move(loop));
        }
        if (f.delay >= 0 || f.transparent >= 0 || f.disposal != 0) {
            auto gce = std::make_unique<TGIFGraphicControlExtension>(frame.get());
            gce->SetDelay(uint16_t(std::max(0, f.delay)));
            gce->SetDisposal(uint8_t(f.disposal));
            if (f.transparent >= 0) {
                gce->SetTransparent(true);
                gce->TransparentIndex = uint8_t(f.transparent);
            }
            frame->AddExtension(std::move(gce));
        }
        gif.Images.Add(std::move(frame));
    }
}

inline QImage FilledImage(int w, int h, QRgb colour)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    return image;
}
