// The controls of one destination: protocol, server, account, remote name,
// server key, key file, region, form field and transfer mode. The FTP page
// and the Destinations page each hold one; its controls carry the page's
// identifiers, so the page's data exchange reaches them.
#pragma once

#include "net/FtpTransport.h"
#include "platform/afx/dlgunits.h"

#include <QWidget>
#include <functional>

class CDataExchange;

// Tries a connection with the values a page shows, without storing them.
using DestinationTest = std::function<void(const FtpDestination&, QWidget* parent)>;

class CDestinationBox : public QWidget
{
    Q_OBJECT
public:
    // Spans the page's width from topDu to topDu + heightDu (dialog units);
    // controls are laid out in page coordinates.
    CDestinationBox(QWidget* page, int topDu, int heightDu);

    // What the controls hold now, neither checked nor stored anywhere; the
    // protocol is -1 while none is chosen. Use and Max Width stay 0.
    FtpDestination Current() const;
    // Controls to d (save) or d to controls. With check, what the chosen kind
    // shows is validated; a failure is shown and its control has the focus.
    void Exchange(CDataExchange& dx, FtpDestination& d, bool check);
    // Whether the destination is in use: a destination that is not keeps its
    // values but cannot be edited.
    void SetActive(bool on);

private:
    template <typename T> T* Add(int id, QRect du);
    template <typename T> T* Add(int id, const QString& text, QRect du);
    QWidget* Item(int id) const;
    void UpdateControls();
    void ValidateHttp(CDataExchange& dx, const FtpDestination& d);
    void OnBrowseKey();

    DialogUnits m_du;
    int m_topDu;
    bool m_active = true;
};
