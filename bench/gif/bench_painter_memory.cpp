// Peak memory and CPU of our painter playing an animation for 10 s, beside QMovie playing the
// same bytes in the same run. Each player runs in a child process of its own, so that each
// peak is its own. Both draw every new frame onto a display picture of at most 512 x 512 (a
// banner location), scaled; nothing else differs.
//
// Files, made here with our encoder:
//   sparse: 8 frames of 4096 x 4096, transparent but for a 64 x 64 square (about 110 KB)
//   banner: 200 frames of 468 x 60, every pixel changing, delay 5
// Goals: our peak growth within the render budget (max(64 MB, four full-colour screens)) plus
// one screen; our banner CPU at most QMovie's. Our frame delays count 12 ms a unit, QMovie's
// 10 ms, so the frames shown differ; CPU per frame is printed as well.
#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QMovie>
#include <QPainter>
#include <QTimer>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "anim_gif.h"

namespace {

constexpr int kPlayMs = 10000;

struct Result {
    double peakMb = 0;  // peak resident size minus the size once the file was loaded
    double cpuS = 0;    // user + system time of all threads while playing
    int frames = 0;     // frames shown
};

std::vector<uint8_t> MakeFile(int w, int h, int count, int delay, bool sparse)
{
    GifDocument gif;
    gif.Header.Width = uint16_t(w);
    gif.Header.Height = uint16_t(h);
    std::vector<GifRgb> palette;
    for (int i = 0; i < 256; ++i)
        palette.push_back(0xFF000000u | uint32_t(i * 0x010203 + 0x102030));
    gif.Header.ColorMap.ImportPalette(palette);
    for (int n = 0; n < count; ++n) {
        auto frame = std::make_unique<TGIFSubImage>(&gif);
        frame->SetBounds(0, 0, w, h);
        auto& pixels = frame->Data();
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint8_t value;
                if (sparse)
                    value = (x / 64 == n && y / 64 == n) ? uint8_t(1 + n) : 0;
                else
                    value = uint8_t((x + 3 * y + 5 * n) % 200 + (x / 40 + n) % 50);
                pixels[size_t(y) * size_t(w) + size_t(x)] = value;
            }
        if (n == 0) {
            auto loop = std::make_unique<TGIFAppExtNSLoop>(frame.get());
            loop->Loops = 0;
            frame->AddExtension(std::move(loop));
        }
        auto gce = std::make_unique<TGIFGraphicControlExtension>(frame.get());
        gce->SetDelay(uint16_t(delay));
        if (sparse) {
            gce->SetTransparent(true);
            gce->TransparentIndex = 0;
        }
        frame->AddExtension(std::move(gce));
        gif.Images.Add(std::move(frame));
    }
    return gif.SaveToMemory();
}

long StatusKb(const char* key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(in, line))
        if (line.rfind(prefix, 0) == 0)
            return std::atol(line.c_str() + prefix.size());
    return 0;
}

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

QImage Display(QSize size)
{
    QImage display(std::min(size.width(), 512), std::min(size.height(), 512), QImage::Format_ARGB32_Premultiplied);
    display.fill(Qt::white);
    return display;
}

// Measures from its creation: CPU time of all threads, and the peak resident size over what
// the process held then.
class Measure {
public:
    // Runs the event loop for kPlayMs, then `stop`.
    Result Play(int& frames, const std::function<void()>& stop)
    {
        QTimer::singleShot(kPlayMs, [] { QCoreApplication::quit(); });
        QCoreApplication::exec();
        stop();
        Result result;
        result.cpuS = CpuSeconds() - cpu0_;
        result.peakMb = double(StatusKb("VmHWM") - baseKb_) / 1024.0;
        result.frames = frames;
        return result;
    }

private:
    long baseKb_ = StatusKb("VmRSS");
    double cpu0_ = CpuSeconds();
};

Result PlayOurs(const std::vector<uint8_t>& bytes, QSize size)
{
    TAnimGif gif;
    gif.LoadFromMemory(bytes.data(), bytes.size());
    QImage display = Display(size);
    Measure measure;
    int frames = 0;
    gif.OnFrameDone = [&](TGIFPainter*) { ++frames; };
    // The control's repaint: the paint buffer scaled onto the display.
    gif.OnChange = [&](TAnimGif* image) {
        QPainter painter(&display);
        image->Draw(painter, display.rect());
    };
    {
        QPainter painter(&display);
        gif.Draw(painter, display.rect());
    }
    return measure.Play(frames, [&] { gif.StopPainters(); });
}

Result PlayQMovie(const std::vector<uint8_t>& bytes, QSize size)
{
    QByteArray data(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QMovie movie(&buffer);
    QImage display = Display(size);
    Measure measure;
    int frames = 0;
    QObject::connect(&movie, &QMovie::frameChanged, [&](int) {
        ++frames;
        QPainter painter(&display);
        painter.drawImage(display.rect(), movie.currentImage());
    });
    movie.start();
    return measure.Play(frames, [&] { movie.stop(); });
}

// Runs one player in a child process and reads its result back.
Result InChild(Result (*play)(const std::vector<uint8_t>&, QSize), const std::vector<uint8_t>& bytes, QSize size)
{
    int fds[2];
    if (pipe(fds) != 0)
        std::exit(1);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        static int argc = 1;
        static char name[] = "bench_painter_memory";
        static char* argv[] = {name, nullptr};
        QGuiApplication app(argc, argv);
        const Result result = play(bytes, size);
        if (write(fds[1], &result, sizeof result) != ssize_t(sizeof result))
            _exit(1);
        _exit(0);
    }
    close(fds[1]);
    Result result;
    const bool ok = read(fds[0], &result, sizeof result) == ssize_t(sizeof result);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!ok || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "a player failed\n");
        std::exit(1);
    }
    return result;
}

void Report(const char* label, const std::vector<uint8_t>& bytes, int w, int h)
{
    const Result ours = InChild(PlayOurs, bytes, QSize(w, h));
    const Result theirs = InChild(PlayQMovie, bytes, QSize(w, h));
    const double screenMb = double(w) * h * 4 / (1024.0 * 1024.0);
    const double budgetMb = std::max(double(kGifRenderCacheFloor) / (1024.0 * 1024.0), 4 * screenMb);
    std::printf("%s (%zu bytes, %d x %d), played %d s:\n", label, bytes.size(), w, h, kPlayMs / 1000);
    std::printf("  peak memory growth over the loaded file: ours %.1f MB, QMovie %.1f MB, ratio %.2f"
                " (goal: ours <= budget %.1f MB + one screen %.1f MB = %.1f MB)\n",
                ours.peakMb, theirs.peakMb, theirs.peakMb > 0 ? ours.peakMb / theirs.peakMb : 0.0, budgetMb,
                screenMb, budgetMb + screenMb);
    std::printf("  CPU time while playing (all threads): ours %.2f s for %d frames, QMovie %.2f s for %d frames,"
                " ratio %.2f; per frame ours %.2f ms, QMovie %.2f ms\n",
                ours.cpuS, ours.frames, theirs.cpuS, theirs.frames, theirs.cpuS > 0 ? ours.cpuS / theirs.cpuS : 0.0,
                ours.frames ? ours.cpuS * 1000 / ours.frames : 0.0,
                theirs.frames ? theirs.cpuS * 1000 / theirs.frames : 0.0);
}

}  // namespace

int main()
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    Report("sparse: 8 transparent frames", MakeFile(4096, 4096, 8, 10, true), 4096, 4096);
    Report("banner: 200 frames", MakeFile(468, 60, 200, 5, false), 468, 60);
    return 0;
}
