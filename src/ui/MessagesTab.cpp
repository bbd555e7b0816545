#include "ui/MessagesTab.h"

#include "model/MessageStore.h"
#include "ui/GlyphLabel.h"
#include "ui/MessageRecorderVM.h"
#include "ui/UiMetrics.h"
#include "ui/UiStyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace pealix {

using namespace metrics;
using style::TextFont;
using style::TextTone;

MessagesTab::MessagesTab(MessageStore *messages, MessageRecorderVM *recorder, QWidget *parent)
    : QWidget(parent), m_messages(messages), m_recorder(recorder ? recorder : new MessageRecorderVM)
{
    setObjectName(QStringLiteral("messagesTab"));
    m_recorder->setParent(this);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(TabPadding, TabPadding, TabPadding, TabPadding);
    layout->setSpacing(TabSpacing);

    layout->addWidget(
        new StyledLabel(QStringLiteral("Pre-recorded messages"), TextFont::Headline, TextTone::Primary));
    auto *intro = new StyledLabel(
        QStringLiteral("Record reusable announcements (e.g. \u201cDinner\u2019s ready\u201d). "
                       "Broadcast them with one tap from the menu."),
        TextFont::Caption, TextTone::Secondary);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    auto *recordRow = new QHBoxLayout;
    m_title = new QLineEdit;
    m_title->setObjectName(QStringLiteral("messageTitle"));
    m_title->setPlaceholderText(QStringLiteral("Message title"));
    m_title->setAccessibleName(QStringLiteral("Message title"));
    m_title->setClearButtonEnabled(true);
    recordRow->addWidget(m_title, 1);
    m_record = new QPushButton;
    m_record->setObjectName(QStringLiteral("recordButton"));
    recordRow->addWidget(m_record);
    layout->addLayout(recordRow);

    m_error = new StyledLabel(TextFont::Caption, TextTone::Error);
    m_error->setObjectName(QStringLiteral("recordError"));
    m_error->setWordWrap(true);
    layout->addWidget(m_error);

    m_pendingRow = new QWidget;
    m_pendingRow->setObjectName(QStringLiteral("pendingRow"));
    auto *pending = new QHBoxLayout(m_pendingRow);
    pending->setContentsMargins(0, 0, 0, 0);
    pending->addWidget(new GlyphLabel(Glyph::CheckCircle, IconTone::Green, RowGlyphSize - 4));
    pending->addWidget(new StyledLabel(QStringLiteral("Recorded. Add a title and save."), TextFont::Caption,
                                       TextTone::Primary));
    pending->addStretch();
    m_save = new QPushButton(QStringLiteral("Save"));
    m_save->setObjectName(QStringLiteral("saveMessageButton"));
    m_save->setFont(style::font(TextFont::Caption, m_save->font()));
    pending->addWidget(m_save);
    layout->addWidget(m_pendingRow);

    layout->addWidget(style::divider());

    m_area = new QStackedWidget;
    auto *empty =
        new StyledLabel(QStringLiteral("No saved messages yet."), TextFont::Body, TextTone::Tertiary);
    empty->setObjectName(QStringLiteral("noMessages"));
    empty->setAlignment(Qt::AlignCenter);
    m_area->addWidget(empty);
    auto *scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("messageList"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->viewport()->setAutoFillBackground(false);
    auto *list = new QWidget;
    auto *listLayout = new QVBoxLayout(list);
    listLayout->setContentsMargins(0, 0, 0, 0);
    auto *card = new Card;
    m_rows = new QVBoxLayout(card);
    m_rows->setContentsMargins(10, 4, 4, 4);
    m_rows->setSpacing(0);
    listLayout->addWidget(card);
    listLayout->addStretch();
    scroll->setWidget(list);
    m_area->addWidget(scroll);
    layout->addWidget(m_area, 1);

    connect(m_record, &QPushButton::clicked, this, [this] {
        if (m_recorder->isRecording())
            m_recorder->stop();
        else
            m_recorder->record();
    });
    connect(m_save, &QPushButton::clicked, this, &MessagesTab::save);
    connect(m_title, &QLineEdit::textChanged, this, &MessagesTab::refresh);
    connect(m_title, &QLineEdit::returnPressed, this, [this] {
        if (m_save->isVisibleTo(this) && m_save->isEnabled())
            save();
    });
    connect(m_recorder, &MessageRecorderVM::isRecordingChanged, this, &MessagesTab::refresh);
    connect(m_recorder, &MessageRecorderVM::pendingClipChanged, this, &MessagesTab::refresh);
    connect(m_recorder, &MessageRecorderVM::lastErrorChanged, this, &MessagesTab::refresh);
    connect(m_messages, &MessageStore::messagesChanged, this, &MessagesTab::refresh);
    refresh();
}

bool MessagesTab::titleIsBlank(const QString &title)
{
    for (const QChar c : title) {
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t'))
            return false;
    }
    return true;
}

void MessagesTab::refresh()
{
    const bool recording = m_recorder->isRecording();
    m_record->setText(recording ? QStringLiteral("Stop") : QStringLiteral("Record"));
    m_record->setIcon(
        glyphIcon(recording ? Glyph::Stop : Glyph::Mic, recording ? IconTone::Red : IconTone::Text));
    QPalette palette = QPalette();
    if (recording)
        palette.setColor(QPalette::ButtonText, style::red(palette));
    m_record->setPalette(palette);

    const QString error = m_recorder->lastError();
    m_error->setText(error);
    m_error->setVisible(!error.isEmpty());

    m_pendingRow->setVisible(m_recorder->pendingClip().has_value());
    m_save->setEnabled(!titleIsBlank(m_title->text()));

    m_area->setCurrentIndex(m_messages->messages().isEmpty() ? 0 : 1);
    if (m_messages->messages() != m_rowsFor)
        rebuildRows();
}

void MessagesTab::save()
{
    if (titleIsBlank(m_title->text()))
        return;
    // The store decides the file name from the title exactly as typed.
    if (m_recorder->save(*m_messages, m_title->text()))
        m_title->clear();
}

void MessagesTab::rebuildRows()
{
    m_rowsFor = m_messages->messages();
    while (QLayoutItem *item = m_rows->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    QWidget *previous = m_save;
    for (const SavedMessage &message : std::as_const(m_rowsFor)) {
        auto *row = new QWidget;
        row->setObjectName(QStringLiteral("messageRow"));
        auto *layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(new GlyphLabel(Glyph::Waveform, IconTone::Secondary, RowGlyphSize - 2));
        auto *title = new QLabel(message.title);
        title->setObjectName(QStringLiteral("messageTitleLabel"));
        title->setTextFormat(Qt::PlainText);
        layout->addWidget(title, 1);
        auto *remove = new QToolButton;
        remove->setObjectName(QStringLiteral("deleteMessageButton"));
        remove->setIcon(glyphIcon(Glyph::Delete, IconTone::Destructive));
        remove->setAutoRaise(true);
        remove->setToolTip(QStringLiteral("Delete"));
        remove->setAccessibleName(QStringLiteral("Delete %1").arg(message.title));
        remove->setFocusPolicy(Qt::StrongFocus);
        const SavedMessage target = message;
        connect(remove, &QToolButton::clicked, this, [this, target] { m_messages->deleteMessage(target); });
        layout->addWidget(remove);
        m_rows->addWidget(row);
        row->show();
        setTabOrder(previous, remove);
        previous = remove;
    }
}

} // namespace pealix
