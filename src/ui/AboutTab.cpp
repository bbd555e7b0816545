#include "ui/AboutTab.h"

#include "ui/AboutLinks.h"
#include "ui/GlyphLabel.h"
#include "ui/UiMetrics.h"
#include "ui/UiStyle.h"

#include <QFileInfo>
#include <QLabel>
#include <QVBoxLayout>

namespace pealix {

using namespace metrics;
using style::TextFont;
using style::TextTone;

namespace {

QUrl readmeSection(const char *configured, const QString &anchor)
{
    const QUrl url(QString::fromUtf8(configured), QUrl::StrictMode);
    if (url.isValid() && !url.isRelative())
        return url;
    // An installed copy is what a packaged Pealix has; a build run from its
    // source tree has the one beside the sources.
    QString readme = QString::fromUtf8(PEALIX_INSTALLED_README);
    if (!QFileInfo::exists(readme))
        readme = QString::fromUtf8(PEALIX_SOURCE_README);
    QUrl local = QUrl::fromLocalFile(readme);
    local.setFragment(anchor);
    return local;
}

QLabel *link(const QString &text, const QUrl &url, const char *name)
{
    auto *label =
        new QLabel(QStringLiteral("<a href=\"%1\">%2</a>")
                       .arg(url.toString(QUrl::FullyEncoded).toHtmlEscaped(), text.toHtmlEscaped()));
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::RichText);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    label->setOpenExternalLinks(true);
    label->setAccessibleName(text);
    label->setToolTip(url.toString());
    return label;
}

} // namespace

AboutTab::AboutTab(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("aboutTab"));
    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(AboutSpacing);
    layout->addStretch();
    layout->addWidget(new GlyphLabel(Glyph::Megaphone, IconTone::Accent, AboutGlyphSize), 0,
                      Qt::AlignHCenter);
    auto *name = new StyledLabel(QStringLiteral("Pealix"), TextFont::Title, TextTone::Primary);
    layout->addWidget(name, 0, Qt::AlignHCenter);
    layout->addWidget(
        new StyledLabel(QStringLiteral("Talk to every room at once."), TextFont::Body, TextTone::Secondary),
        0, Qt::AlignHCenter);
    layout->addWidget(link(QStringLiteral("Support & FAQ"), supportUrl(), "supportLink"), 0,
                      Qt::AlignHCenter);
    layout->addWidget(link(QStringLiteral("Privacy Policy"), privacyUrl(), "privacyLink"), 0,
                      Qt::AlignHCenter);
    layout->addStretch();
}

QUrl AboutTab::supportUrl()
{
    return readmeSection(PEALIX_SUPPORT_URL, QStringLiteral("support"));
}

QUrl AboutTab::privacyUrl()
{
    return readmeSection(PEALIX_PRIVACY_URL, QStringLiteral("privacy"));
}

} // namespace pealix
