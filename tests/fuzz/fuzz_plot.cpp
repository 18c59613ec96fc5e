// Fuzzes the plot's way from the port's deliveries to a frame.
//
// Input: byte 0 gives where to cut the rest in two (as a share of 255); the rest is the data.

#include "plot/plotmodel.h"
#include "plot/plotview.h"
#include "require.h"

#include <QApplication>
#include <QImage>

#include <cmath>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_plot";
    static char *argv[] = {name, nullptr};
    // Lives as long as the process: every input needs it.
    new QApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *input, std::size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray data(reinterpret_cast<const char *>(input + 1), int(size - 1));
    const int cut = int(std::size_t(data.size()) * input[0] / 255);
    PlotModel cutModel;
    cutModel.append(data.left(cut));
    cutModel.append(data.mid(cut));
    PlotModel whole;
    whole.append(data);

    // How the bytes were cut must not change what is read; nothing is made up.
    const History &h = whole.history();
    require(cutModel.history().sampleCount() == h.sampleCount(), "samples depend on the cuts");
    require(cutModel.channelCount() == whole.channelCount(), "channels depend on the cuts");
    require(whole.channelCount() <= History::maxChannels, "too many channels");
    require(h.sampleCount() <= data.count('\n') + data.count('\r'), "a sample without a line");
    for (std::int64_t i = 0; i < h.sampleCount(); ++i) {
        for (int c = 0; c < whole.channelCount(); ++c) {
            float a = 0;
            float b = 0;
            const bool has = h.value(c, i, &a);
            require(has == cutModel.history().value(c, i, &b) && (!has || a == b),
                    "values depend on the cuts");
            require(!has || std::isfinite(a), "a value that is no number");
        }
    }

    PlotView view(&whole);
    view.resize(300, 200);
    QImage frame(view.size(), QImage::Format_ARGB32_Premultiplied);
    for (double seconds : {1.0, 60.0}) {
        view.setWindowSeconds(seconds);
        view.render(&frame);
    }
    // Values far beyond a fixed range are drawn on its edge, whatever their size.
    view.setFixedRange(-1, 1);
    view.render(&frame);
    return 0;
}
