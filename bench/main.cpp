// tarvex-bench: drives the real main window offscreen against a pseudo-terminal and prints
// one figure per line as "name value unit". The figures are in the files beside this one.

#include "bench.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace bench {

namespace {
std::map<std::string, double> values;
QString folderPath;
} // namespace

double setting(const char *name)
{
    const auto it = values.find(name);
    if (it == values.end())
        fail(std::string("no setting ") + name);
    return it->second;
}

QString folder()
{
    return folderPath;
}

} // namespace bench

namespace {

bool picked(const bench::Figure &figure, const QStringList &only)
{
    if (!figure.family)
        return false;
    if (only.isEmpty())
        return figure.byDefault;
    return only.contains(QLatin1String(figure.name))
        || (figure.byDefault && only.contains(QLatin1String(figure.family)));
}

} // namespace

int main(int argc, char *argv[])
{
    // Offscreen whatever the caller's session: the figures must not depend on a display. A
    // display's own costs (an X server under Xvfb, say) are measured by naming its platform.
    const char *platform = std::getenv("TARVEX_BENCH_PLATFORM");
    ::setenv("QT_QPA_PLATFORM", platform && *platform ? platform : "offscreen", 1);
    QApplication app(argc, argv);

    // Settings shared by several figures first, then each figure's own.
    std::vector<bench::Setting> settings
        = {{"runs", "Runs of the throughput figures; the median is printed", 3, 1}};
    QStringList names;
    for (const bench::Figure &figure : bench::figures()) {
        if (figure.family)
            names << QString::fromLatin1(figure.family) << QString::fromLatin1(figure.name);
        for (const bench::Setting &s : figure.settings)
            if (std::none_of(settings.begin(), settings.end(),
                             [&](const bench::Setting &known) { return known.name == s.name; }))
                settings.push_back(s);
    }
    names.removeDuplicates();

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Drives the real main window offscreen against a pseudo-terminal and prints one figure\n"
        "per line: name value unit. Each figure runs in a child process of its own.");
    parser.addHelpOption();
    const QCommandLineOption quick("quick", "Small sizes, for a smoke test (about 20 s).");
    const QCommandLineOption only("only",
                                  "Comma-separated figures or families, from: " + names.join(", ")
                                      + ". Without it, all but the soak.",
                                  "LIST");
    const QCommandLineOption dir("dir", "Where figures write files (the temporary folder).", "PATH",
                                 QDir::tempPath());
    QCommandLineOption figure("figure", "The one figure a child runs.", "NAME");
    figure.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({quick, only, dir, figure});
    for (const bench::Setting &s : settings)
        parser.addOption({s.name, QStringLiteral("%1 (%2).").arg(s.help).arg(s.full), "N"});
    parser.process(app);

    for (const bench::Setting &s : settings) {
        bool ok = true;
        const double value = parser.isSet(s.name) ? parser.value(s.name).toDouble(&ok)
            : parser.isSet(quick)                 ? s.quick
                                                  : s.full;
        if (!ok || value <= 0)
            bench::fail(std::string("--") + s.name + " needs a positive number");
        bench::values[s.name] = value;
    }
    bench::folderPath = parser.value(dir);
    // The window keeps its capture under the cache folder: the bench's, not the user's, and this
    // run's alone, so that captures a killed run left behind put up no recovery box.
    QTemporaryDir cache(bench::folderPath + "/tarvex-bench-cache-XXXXXX");
    if (!cache.isValid())
        bench::fail("no cache folder could be made under " + bench::folderPath.toStdString());
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.path()));

    if (parser.isSet(figure)) {
        for (const bench::Figure &f : bench::figures())
            if (parser.value(figure) == QLatin1String(f.name)) {
                f.run();
                return 0;
            }
        bench::fail("unknown figure " + parser.value(figure).toStdString());
    }

    const QStringList picks = parser.value(only).split(',', Qt::SkipEmptyParts);
    int failures = 0;
    for (const bench::Figure &f : bench::figures()) {
        if (!picked(f, picks))
            continue;
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    QCoreApplication::arguments().mid(1) << "--figure" << f.name);
        if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit
            || child.exitCode() != 0) {
            std::fprintf(stderr, "tarvex-bench: figure %s failed\n", f.name);
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
