#pragma once

#include <QUrl>
#include <QWidget>

namespace pealix {

// Names the application, says what it is for, and links to help and to what
// Pealix does with the network.
class AboutTab : public QWidget
{
    Q_OBJECT
public:
    explicit AboutTab(QWidget *parent = nullptr);

    // The build's addresses when it was given some, otherwise the README's
    // "Support" and "Privacy" sections.
    static QUrl supportUrl();
    static QUrl privacyUrl();
};

} // namespace pealix
