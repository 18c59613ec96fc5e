#ifndef CHILDMODES_H
#define CHILDMODES_H

#include <QCoreApplication>
#include <QHash>
#include <QStringList>
#include <QtTest>

#include <functional>

// A test program that starts itself again in a child mode, to do what the test process must not
// take on itself (a resource limit, another user, being killed): its main() is testMain().
namespace testkit {

// A child mode gets the arguments after its name and returns the process's exit code.
using ChildMode = std::function<int(const QStringList &arguments)>;
using ChildModes = QHash<QString, ChildMode>;

// The child mode named by argv[1] (such names start with "--"), under a QCoreApplication; an
// unknown one fails with a message instead of running the tests. Returns -1 when argv[1] names
// no child mode, and the tests are to run.
int runChildMode(int argc, char *argv[], const ChildModes &modes);

// Starts this program in a child mode and waits up to timeoutMs for it to end. Returns what it
// printed on standard output, or a text beginning with "<child" that says how it failed.
QString runChild(const QString &mode, const QStringList &arguments = {}, int timeoutMs = 60000);

// Gives up root for the unprivileged user nobody, as a child mode's first step where a test needs
// what root may do anyway; false if that failed. Does nothing for another user.
bool becomeUnprivileged();

// main() of a test program with child modes: Application is the test's application class.
template<typename Application, typename Test>
int testMain(int argc, char *argv[], const ChildModes &modes)
{
    const int child = runChildMode(argc, argv, modes);
    if (child >= 0)
        return child;
    Application app(argc, argv);
    Test test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

} // namespace testkit

#endif // CHILDMODES_H
