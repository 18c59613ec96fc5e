#include "app/markerentry.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

namespace {

// A label is one line of a table beside the capture: long enough for a note, never a page.
constexpr int kMaxLabel = 200;

} // namespace

MarkerEntry::MarkerEntry(QWidget *parent)
    : QWidget(parent)
    , prompt(new QLabel(this))
    , field(new QLineEdit(this))
{
    setObjectName(QStringLiteral("markerEntry"));
    prompt->setObjectName(QStringLiteral("markerPrompt"));
    prompt->setTextFormat(Qt::PlainText);
    field->setObjectName(QStringLiteral("markerLabel"));
    field->setMaxLength(kMaxLabel);
    field->setMinimumWidth(220);
    field->setPlaceholderText(tr("Enter applies, Esc leaves it unlabelled"));
    field->installEventFilter(this);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(prompt);
    row->addWidget(field);
    connect(field, &QLineEdit::returnPressed, this, &MarkerEntry::apply);
    hide();
}

void MarkerEntry::ask(const CaptureEvent &marker, const QString &text)
{
    QWidget *focus = QApplication::focusWidget();
    if (focus != field)
        focusBefore = focus;
    asked = marker;
    prompt->setText(text);
    field->clear();
    show();
    field->setFocus(Qt::OtherFocusReason);
}

QString MarkerEntry::typed() const
{
    // Tabs and line breaks would break the line of the table it goes into.
    return field->text().simplified();
}

void MarkerEntry::dismiss()
{
    const bool hadFocus = field->hasFocus();
    asked = CaptureEvent();
    field->clear();
    hide();
    if (hadFocus && focusBefore)
        focusBefore->setFocus(Qt::OtherFocusReason);
}

void MarkerEntry::apply()
{
    const CaptureEvent marker = asked;
    const QString label = typed();
    dismiss();
    if (!label.isEmpty())
        emit labelled(marker, label);
}

bool MarkerEntry::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == field && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
        dismiss();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
