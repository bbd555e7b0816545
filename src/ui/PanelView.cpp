#include "ui/PanelView.h"

#include "audio/AudioFileDuration.h"
#include "engine/Broadcaster.h"
#include "model/MessageStore.h"
#include "model/Preferences.h"
#include "model/SpeakerStore.h"
#include "ui/ChordText.h"
#include "ui/DeliverySummary.h"
#include "ui/GlyphLabel.h"
#include "ui/LevelMeter.h"
#include "ui/RowButton.h"
#include "ui/TalkButton.h"
#include "ui/UiMetrics.h"
#include "ui/UiStyle.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include <limits>

namespace pealix {

using namespace metrics;
using style::TextFont;
using style::TextTone;
using Kind = Broadcaster::Status::Kind;

namespace {

void setText(QLabel *label, const QString &text)
{
    if (label->text() != text)
        label->setText(text);
}

QPushButton *footerButton(const QString &text, const char *name)
{
    auto *button = new QPushButton(text);
    button->setObjectName(QLatin1String(name));
    button->setFlat(true);
    button->setFont(style::font(TextFont::Caption, button->font()));
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

} // namespace

PanelView::PanelView(SpeakerStore *speakers, MessageStore *messages, Broadcaster *broadcaster,
                     Preferences &preferences, QWidget *parent)
    : QWidget(parent), m_speakers(speakers), m_messages(messages), m_broadcaster(broadcaster),
      m_preferences(preferences)
{
    setObjectName(QStringLiteral("panel"));
    setAutoFillBackground(true);
    setMinimumWidth(PanelMinimumWidth);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(PanelPadding, PanelPadding, PanelPadding, PanelPadding);
    layout->setSpacing(PanelSpacing);

    // 1. Header
    auto *header = new QHBoxLayout;
    header->addWidget(new GlyphLabel(Glyph::Megaphone, IconTone::Accent, RowGlyphSize));
    header->addWidget(new StyledLabel(QStringLiteral("Pealix"), TextFont::Headline, TextTone::Primary));
    header->addStretch();
    m_summary = new StyledLabel(TextFont::Caption, TextTone::Secondary);
    m_summary->setObjectName(QStringLiteral("speakerSummary"));
    header->addWidget(m_summary);
    layout->addLayout(header);

    // 2. Talk button
    m_talk = new TalkButton;
    layout->addWidget(m_talk);

    // 3. Error line, and how the last broadcast went
    m_error = new StyledLabel(TextFont::Caption, TextTone::Error);
    m_error->setObjectName(QStringLiteral("errorLine"));
    m_error->setWordWrap(true);
    m_error->setTextFormat(Qt::PlainText);
    layout->addWidget(m_error);
    auto *deliveries = new QVBoxLayout;
    deliveries->setSpacing(2);
    m_deliveryHeadline = new StyledLabel(TextFont::Caption, TextTone::Secondary);
    m_deliveryHeadline->setObjectName(QStringLiteral("deliveryHeadline"));
    m_deliveryHeadline->setTextFormat(Qt::PlainText);
    deliveries->addWidget(m_deliveryHeadline);
    m_deliveryMissing = new StyledLabel(TextFont::Caption, TextTone::Error);
    m_deliveryMissing->setObjectName(QStringLiteral("deliveryMissing"));
    m_deliveryMissing->setWordWrap(true);
    m_deliveryMissing->setTextFormat(Qt::PlainText);
    deliveries->addWidget(m_deliveryMissing);
    layout->addLayout(deliveries);

    // 4. Divider, 5. saved messages
    layout->addWidget(style::divider());
    auto *saved = new QVBoxLayout;
    saved->setSpacing(MessageRowSpacing);
    saved->addWidget(
        new StyledLabel(QStringLiteral("Saved messages"), TextFont::Caption, TextTone::Secondary));
    m_hint = new StyledLabel(QStringLiteral("Record reusable announcements in Settings \u25B8 Messages."),
                             TextFont::Caption2, TextTone::Tertiary);
    m_hint->setObjectName(QStringLiteral("messagesHint"));
    m_hint->setWordWrap(true);
    saved->addWidget(m_hint);
    m_rows = new QVBoxLayout;
    m_rows->setSpacing(0);
    saved->addLayout(m_rows);
    layout->addLayout(saved);

    // 6. Divider, 7. footer
    layout->addWidget(style::divider());
    auto *footer = new QHBoxLayout;
    m_settings = footerButton(QStringLiteral("Settings\u2026"), "settingsButton");
    m_quit = footerButton(QStringLiteral("Quit"), "quitButton");
    footer->addWidget(m_settings);
    footer->addStretch();
    footer->addWidget(m_quit);
    layout->addLayout(footer);

    connect(m_talk, &TalkButton::clicked, this, &PanelView::talk);
    connect(m_settings, &QPushButton::clicked, this, &PanelView::settingsRequested);
    connect(m_quit, &QPushButton::clicked, this, &PanelView::quitRequested);

    connect(m_broadcaster, &Broadcaster::statusChanged, this, &PanelView::refresh);
    connect(m_broadcaster, &Broadcaster::levelChanged, this, &PanelView::refresh);
    connect(m_broadcaster, &Broadcaster::lastErrorChanged, this, &PanelView::refresh);
    connect(m_broadcaster, &Broadcaster::deliveriesChanged, this, &PanelView::refresh);
    connect(m_speakers, &SpeakerStore::speakersChanged, this, &PanelView::refresh);
    connect(m_speakers, &SpeakerStore::enabledIDsChanged, this, &PanelView::refresh);
    connect(m_messages, &MessageStore::messagesChanged, this, &PanelView::refresh);
    refresh();
}

QString PanelView::speakerSummary(qsizetype enabled)
{
    return enabled == 0 ? QStringLiteral("No speakers") : QStringLiteral("%1 selected").arg(enabled);
}

void PanelView::refresh()
{
    const Broadcaster::Status status = m_broadcaster->status();
    const qsizetype enabled = m_speakers->enabledSpeakers().size();
    setText(m_summary, speakerSummary(enabled));

    switch (status.kind) {
    case Kind::Idle:
        m_talk->setContent(Glyph::Mic, IconTone::Accent, QStringLiteral("Talk to the house"),
                           QStringLiteral("Hold %1 anywhere, or tap").arg(chordText(m_preferences.hotkey())));
        break;
    case Kind::Recording:
        m_talk->setContent(Glyph::Stop, IconTone::Red, QStringLiteral("Recording\u2026 tap to send"),
                           QStringLiteral("Release the hotkey or tap to broadcast"));
        break;
    case Kind::Broadcasting:
        m_talk->setContent(Glyph::Broadcasting, IconTone::Green,
                           QStringLiteral("Broadcasting to ") + status.text,
                           QStringLiteral("Playing your message"));
        break;
    }
    m_talk->setEnabled(status.kind != Kind::Broadcasting);
    m_talk->meter()->setVisible(status.kind == Kind::Recording);
    m_talk->meter()->setLevel(status.kind == Kind::Recording ? m_broadcaster->level() : 0.0f);

    const QString error = m_broadcaster->lastError();
    setText(m_error, error);
    m_error->setVisible(!error.isNull());

    const DeliverySummary deliveries = DeliverySummary::of(m_broadcaster->deliveries());
    setText(m_deliveryHeadline, deliveries.headline);
    m_deliveryHeadline->setVisible(!deliveries.headline.isEmpty());
    setText(m_deliveryMissing, deliveries.missing.join(QLatin1Char('\n')));
    m_deliveryMissing->setVisible(!deliveries.missing.isEmpty());

    const QList<SavedMessage> &messages = m_messages->messages();
    m_hint->setVisible(messages.isEmpty());
    if (messages != m_rowsFor)
        rebuildRows();
    const bool rowsEnabled = status.kind != Kind::Broadcasting && enabled > 0;
    for (int i = 0; i < m_rows->count(); ++i) {
        if (QWidget *row = m_rows->itemAt(i)->widget())
            row->setEnabled(rowsEnabled);
    }
}

QSize PanelView::sizeHint() const
{
    QLayout *content = layout();
    const int width = qMax(PanelMinimumWidth, content->sizeHint().width());
    const int height = content->hasHeightForWidth() ? content->totalHeightForWidth(width)
                                                    : content->totalSizeHint().height();
    return {width, height};
}

void PanelView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // The chord is read from the preferences, which signal nothing.
    refresh();
}

void PanelView::talk()
{
    // A tap starts afresh, and acts on the status as it is now, not as drawn.
    m_broadcaster->clearLastError();
    m_broadcaster->clearDeliveries();
    switch (m_broadcaster->status().kind) {
    case Kind::Idle:
        m_broadcaster->startRecording(m_speakers->enabledSpeakers());
        break;
    case Kind::Recording:
        m_broadcaster->stopAndSend(m_speakers->enabledSpeakers());
        break;
    case Kind::Broadcasting:
        break;
    }
}

void PanelView::play(const SavedMessage &message)
{
    m_broadcaster->clearLastError();
    m_broadcaster->clearDeliveries();
    // A file whose length cannot be read still goes to the broadcaster, which
    // refuses it with its own words; inventing a length here would play
    // silence or cut the message off.
    const double duration =
        audioFileDuration(message.url.toLocalFile()).value_or(std::numeric_limits<double>::quiet_NaN());
    m_broadcaster->broadcast(message.url, m_speakers->enabledSpeakers(), duration);
}

void PanelView::rebuildRows()
{
    m_rowsFor = m_messages->messages();
    while (QLayoutItem *item = m_rows->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    QWidget *previous = m_talk;
    for (const SavedMessage &message : std::as_const(m_rowsFor)) {
        auto *row = new RowButton(Glyph::PlayCircle, IconTone::Accent, message.title);
        row->setObjectName(QStringLiteral("messageRow"));
        row->setAccessibleName(QStringLiteral("Play %1").arg(message.title));
        const SavedMessage target = message;
        connect(row, &RowButton::clicked, this, [this, target] { play(target); });
        m_rows->addWidget(row);
        row->show();
        setTabOrder(previous, row);
        previous = row;
    }
    setTabOrder(previous, m_settings);
    setTabOrder(m_settings, m_quit);
}

} // namespace pealix
