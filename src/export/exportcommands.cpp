// The window's Export: the file dialog with its formats and rate, the export handed to the
// exporter, and its report.

#include "app/capturestatus.h"
#include "app/mainwindow.h"
#include "export/captureexporter.h"
#include "serial/capturestore.h"
#include "serial/leftovers.h"

#include <QAbstractItemView>
#include <QDir>
#include <QDoubleValidator>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

namespace {

// In the order of CaptureExport::Format.
const char *const ExportFilters[] = {QT_TRANSLATE_NOOP("MainWindow", "CSV (*.csv)"),
                                     QT_TRANSLATE_NOOP("MainWindow", "EDF+ (*.edf)"),
                                     QT_TRANSLATE_NOOP("MainWindow", "BDF+ (*.bdf)")};
const char *const ExportSuffixes[] = {"csv", "edf", "bdf"};

} // namespace

void MainWindow::on_actionExport_triggered()
{
    if (exporter->isBusy()) {
        setStatusText(tr("An export is running; wait for it or cancel it."));
        return;
    }
    QStringList filters;
    for (const char *filter : ExportFilters)
        filters << tr(filter);
    if (!exportDialog) {
        // Qt's own dialog, as the rate goes into its layout; built once, as a file dialog takes
        // longer to build than the line holds.
        exportDialog = new QFileDialog(this);
        exportDialog->setOption(QFileDialog::DontUseNativeDialog);
        exportDialog->setAcceptMode(QFileDialog::AcceptSave);
        exportDialog->setFileMode(QFileDialog::AnyFile);
        exportDialog->setNameFilters(filters);
        exportDialog->setDefaultSuffix(QString::fromLatin1(ExportSuffixes[0]));
        connect(exportDialog, &QFileDialog::filterSelected, exportDialog,
                [this, filters](const QString &filter) {
                    const int index = qMax(0, filters.indexOf(filter));
                    exportDialog->setDefaultSuffix(QString::fromLatin1(ExportSuffixes[index]));
                });
        auto *rate = new QLineEdit(exportDialog);
        rate->setObjectName(QStringLiteral("exportRate"));
        rate->setPlaceholderText(tr("as measured"));
        rate->setToolTip(tr("The device's nominal rate in samples per second; empty: the rate "
                            "measured from when the lines arrived"));
        auto *validator = new QDoubleValidator(0.02, 1e7, 6, rate);
        validator->setNotation(QDoubleValidator::StandardNotation);
        validator->setLocale(QLocale::c());
        rate->setValidator(validator);
        if (auto *grid = qobject_cast<QGridLayout *>(exportDialog->layout())) {
            const int row = grid->rowCount();
            auto *label = new QLabel(tr("Sample rate (samples/s):"), exportDialog);
            label->setBuddy(rate);
            grid->addWidget(label, row, 0);
            grid->addWidget(rate, row, 1);
        }
    }
    exportDialog->setWindowTitle(tr("export"));
    exportDialog->setDirectory(QDir::currentPath());
    if (auto *name = exportDialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
        name->clear();
    if (auto *list = exportDialog->findChild<QAbstractItemView *>(QStringLiteral("listView")))
        list->clearSelection();
    const QPointer<QFileDialog> running = exportDialog;
    if (exportDialog->exec() != QDialog::Accepted || !running)
        return;
    const QString fileName = exportDialog->selectedFiles().value(0);
    if (fileName.isEmpty())
        return;
    if (receivedChunks->isOwnFile(fileName)
        || Leftovers::isCaptureFile(receivedChunks->folder(), fileName)) {
        showFileError(tr("Could not export"),
                      tr("%1 is one of the program's own capture files, which it removes; "
                         "choose another name.")
                          .arg(QDir::toNativeSeparators(fileName)));
        return;
    }
    // The suffix decides; a name without one of ours goes by the chosen filter.
    int format = filters.indexOf(exportDialog->selectedNameFilter());
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    for (int i = 0; i < 3; ++i) {
        if (suffix == QLatin1String(ExportSuffixes[i]))
            format = i;
    }
    const auto *rate = exportDialog->findChild<QLineEdit *>(QStringLiteral("exportRate"));
    const double nominal = rate ? QLocale::c().toDouble(rate->text()) : 0;

    // What the capture holds by now, with its times and events; it goes on meanwhile.
    ExportPlan::Input input{receivedChunks->snapshot(), receivedChunks->times(),
                            receivedChunks->events(), receivedChunks->startedUtc()};
    exporter->start(fileName, CaptureExport::Format(qMax(0, format)), nominal, input);
    setStatusText(tr("Exporting to %1").arg(QDir::toNativeSeparators(fileName)));
}

void MainWindow::exportFinished(const QString &fileName, const CaptureExport::Outcome &outcome)
{
    switch (outcome.result) {
    case CaptureExport::Result::Exported:
        setStatusText(tr("Exported %1: %2").arg(QFileInfo(fileName).fileName(), outcome.report));
        break;
    case CaptureExport::Result::Cancelled:
        setStatusText(tr("Export cancelled"));
        break;
    case CaptureExport::Result::Failed:
        setStatusText(QString());
        showFileError(tr("Could not export"), outcome.reason);
        break;
    }
}
