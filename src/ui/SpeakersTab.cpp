#include "ui/SpeakersTab.h"

#include "model/Preferences.h"
#include "model/SpeakerStore.h"
#include "ui/BusySpinner.h"
#include "ui/GlyphLabel.h"
#include "ui/UiMetrics.h"
#include "ui/UiStyle.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace pealix {

using namespace metrics;
using style::TextFont;
using style::TextTone;

namespace {
const QString EmptyHint = QStringLiteral(
    "Make sure Pealix is on the same network as your speakers. A firewall must let in replies on "
    "UDP port 1900 (Sonos) and mDNS on 5353 (Cast) \u2014 then Rescan.");
constexpr int VolumeMaximum = 100;
} // namespace

SpeakersTab::SpeakersTab(SpeakerStore *speakers, Preferences &preferences, QWidget *parent)
    : QWidget(parent), m_speakers(speakers), m_preferences(preferences)
{
    setObjectName(QStringLiteral("speakersTab"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(TabPadding, TabPadding, TabPadding, TabPadding);
    layout->setSpacing(TabSpacing);

    // 1. Header
    auto *header = new QHBoxLayout;
    header->addWidget(
        new StyledLabel(QStringLiteral("Speakers on your network"), TextFont::Headline, TextTone::Primary));
    header->addStretch();
    m_rescan = new QPushButton(glyphIcon(Glyph::Refresh), QStringLiteral("Rescan"));
    m_rescan->setObjectName(QStringLiteral("rescanButton"));
    m_rescan->setAccessibleName(QStringLiteral("Rescan"));
    // Keeps its width while the label gives way to the spinner.
    m_rescan->setMinimumWidth(m_rescan->sizeHint().width());
    m_spinner = new BusySpinner;
    m_spinner->setObjectName(QStringLiteral("rescanSpinner"));
    m_spinner->hide();
    // Centred on the button whatever size the style gives it.
    auto *spinnerLayout = new QHBoxLayout(m_rescan);
    spinnerLayout->setContentsMargins(0, 0, 0, 0);
    spinnerLayout->addWidget(m_spinner, 0, Qt::AlignCenter);
    header->addWidget(m_rescan);
    layout->addLayout(header);

    // 2. The speaker area: the empty state or the two sections.
    m_area = new QStackedWidget;
    m_emptyState = new QWidget;
    m_emptyState->setObjectName(QStringLiteral("speakersEmptyState"));
    auto *empty = new QVBoxLayout(m_emptyState);
    empty->setSpacing(8);
    empty->addStretch();
    auto *emptyGlyph = new GlyphLabel(Glyph::NoNetwork, IconTone::Secondary, EmptyStateGlyphSize);
    empty->addWidget(emptyGlyph, 0, Qt::AlignHCenter);
    auto *emptyTitle =
        new StyledLabel(QStringLiteral("No speakers found yet"), TextFont::Headline, TextTone::Primary);
    emptyTitle->setAlignment(Qt::AlignCenter);
    empty->addWidget(emptyTitle);
    auto *emptyHint = new StyledLabel(EmptyHint, TextFont::Caption, TextTone::Secondary);
    emptyHint->setObjectName(QStringLiteral("speakersEmptyHint"));
    emptyHint->setAlignment(Qt::AlignCenter);
    emptyHint->setWordWrap(true);
    empty->addWidget(emptyHint);
    empty->addStretch();
    m_area->addWidget(m_emptyState);

    auto *scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("speakerList"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->viewport()->setAutoFillBackground(false);
    m_listPage = new QWidget;
    m_listPage->setAutoFillBackground(false);
    m_listLayout = new QVBoxLayout(m_listPage);
    m_listLayout->setContentsMargins(0, 0, 0, 0);
    m_listLayout->setSpacing(6);
    scroll->setWidget(m_listPage);
    m_area->addWidget(scroll);
    layout->addWidget(m_area, 1);

    // 3. Divider, 4. playback options
    layout->addWidget(style::divider());
    auto *options = new QVBoxLayout;
    options->setSpacing(OptionsSpacing);
    m_restore = new QCheckBox(QStringLiteral("Resume what was playing after an announcement"));
    m_restore->setObjectName(QStringLiteral("restoreToggle"));
    options->addWidget(m_restore);
    auto *volumeRow = new QHBoxLayout;
    auto *volumeLabel = new QLabel(QStringLiteral("Announcement volume"));
    volumeRow->addWidget(volumeLabel);
    m_volume = new QSlider(Qt::Horizontal);
    m_volume->setObjectName(QStringLiteral("volumeSlider"));
    m_volume->setRange(0, VolumeMaximum);
    m_volume->setAccessibleName(QStringLiteral("Announcement volume"));
    volumeLabel->setBuddy(m_volume);
    volumeRow->addWidget(m_volume, 1);
    m_volumeText = new QLabel;
    m_volumeText->setObjectName(QStringLiteral("volumeText"));
    m_volumeText->setFixedWidth(VolumeTextWidth);
    m_volumeText->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    volumeRow->addWidget(m_volumeText);
    options->addLayout(volumeRow);
    options->addWidget(new StyledLabel(
        QStringLiteral("Set volume to \u201cKeep\u201d (0) to leave each speaker at its current level."),
        TextFont::Caption2, TextTone::Secondary));
    m_autostart = new QCheckBox(QStringLiteral("Start Pealix when I log in"));
    m_autostart->setObjectName(QStringLiteral("autostartToggle"));
    options->addWidget(m_autostart);
    layout->addLayout(options);

    connect(m_rescan, &QPushButton::clicked, this, [this] { m_speakers->scan(); });
    connect(m_restore, &QCheckBox::clicked, this, [this](bool on) {
        m_preferences.setRestoreAfterClip(on);
        refresh();
    });
    connect(m_autostart, &QCheckBox::clicked, this, [this](bool on) {
        m_autostartEntry.setEnabled(on);
        refresh();
    });
    connect(m_volume, &QSlider::valueChanged, this, [this](int value) {
        if (value == m_preferences.announcementVolume())
            return;
        m_preferences.setAnnouncementVolume(value);
        refresh();
    });
    connect(m_speakers, &SpeakerStore::speakersChanged, this, &SpeakersTab::refresh);
    connect(m_speakers, &SpeakerStore::isScanningChanged, this, &SpeakersTab::refresh);
    connect(m_speakers, &SpeakerStore::enabledIDsChanged, this, &SpeakersTab::refresh);
    refresh();
}

QString SpeakersTab::volumeText(int volume)
{
    return volume == 0 ? QStringLiteral("Keep") : QStringLiteral("%1%").arg(volume);
}

void SpeakersTab::refresh()
{
    const bool scanning = m_speakers->isScanning();
    m_rescan->setEnabled(!scanning);
    m_rescan->setText(scanning ? QString() : QStringLiteral("Rescan"));
    m_rescan->setIcon(scanning ? QIcon() : glyphIcon(Glyph::Refresh));
    m_spinner->setVisible(scanning);

    const QList<Speaker> &speakers = m_speakers->speakers();
    m_area->setCurrentIndex(speakers.isEmpty() ? 0 : 1);
    if (speakers != m_rowsFor)
        rebuildRows();
    for (QCheckBox *toggle : std::as_const(m_toggles))
        toggle->setChecked(m_speakers->isEnabled(toggle->property("speakerID").toString()));

    m_restore->setChecked(m_preferences.restoreAfterClip());
    const int volume = m_preferences.announcementVolume();
    {
        const QSignalBlocker blocker(m_volume);
        m_volume->setValue(std::clamp(volume, 0, VolumeMaximum));
    }
    m_volumeText->setText(volumeText(volume));
    // The entry is the setting; another tool may have added or removed it.
    m_autostart->setChecked(m_autostartEntry.isEnabled());
}

void SpeakersTab::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Each time the tab appears: look for speakers when none are known yet.
    if (m_speakers->speakers().isEmpty())
        m_speakers->scan();
    refresh();
}

void SpeakersTab::rebuildRows()
{
    m_rowsFor = m_speakers->speakers();
    m_toggles.clear();
    while (QLayoutItem *item = m_listLayout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    QList<Speaker> sonos;
    QList<Speaker> cast;
    for (const Speaker &speaker : std::as_const(m_rowsFor))
        (speaker.kind == SpeakerKind::Sonos ? sonos : cast).append(speaker);
    // Shown now, not when the layout gets round to it, so that what the user
    // (or a test) looks at right after a change is already the new list.
    for (QWidget *section : {buildSection(QStringLiteral("Sonos"), sonos),
                             buildSection(QStringLiteral("Chromecast / Nest"), cast)}) {
        m_listLayout->addWidget(section);
        section->show();
    }
    m_listLayout->addStretch();
    chainTabOrder();
}

QWidget *SpeakersTab::buildSection(const QString &heading, const QList<Speaker> &members)
{
    auto *section = new QWidget;
    auto *layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    auto *title = new StyledLabel(heading, TextFont::Caption, TextTone::Secondary);
    title->setObjectName(QStringLiteral("sectionHeading"));
    layout->addWidget(title);
    auto *card = new Card;
    auto *rows = new QVBoxLayout(card);
    rows->setContentsMargins(10, 6, 10, 6);
    rows->setSpacing(2);
    if (members.isEmpty()) {
        auto *none = new StyledLabel(QStringLiteral("None found"), TextFont::Caption, TextTone::Tertiary);
        none->setObjectName(QStringLiteral("noneFound"));
        rows->addWidget(none);
    }
    for (const Speaker &speaker : members) {
        auto *row = new QHBoxLayout;
        auto *toggle = new QCheckBox(speaker.name);
        toggle->setObjectName(QStringLiteral("speakerToggle"));
        toggle->setProperty("speakerID", speaker.id);
        const QString id = speaker.id;
        connect(toggle, &QCheckBox::clicked, this, [this, id] { m_speakers->toggle(id); });
        row->addWidget(toggle);
        row->addStretch();
        auto *host = new StyledLabel(speaker.host, TextFont::Caption, TextTone::Tertiary);
        host->setObjectName(QStringLiteral("speakerHost"));
        row->addWidget(host);
        rows->addLayout(row);
        m_toggles.append(toggle);
    }
    layout->addWidget(card);
    return section;
}

void SpeakersTab::chainTabOrder()
{
    // Rows made after the options would otherwise come after them in Tab order.
    QWidget *previous = m_rescan;
    for (QCheckBox *toggle : std::as_const(m_toggles)) {
        setTabOrder(previous, toggle);
        previous = toggle;
    }
    setTabOrder(previous, m_restore);
    setTabOrder(m_restore, m_volume);
    setTabOrder(m_volume, m_autostart);
}

} // namespace pealix
