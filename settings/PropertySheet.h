// Property sheet and pages: a dialog with a row of tabs over a stack of pages.
// A page builds its controls the first time it is shown; leaving it reads its
// controls back with validation, and a failed read keeps the user on it.
#pragma once

#include "platform/afx/dlgunits.h"

#include <QAbstractButton>
#include <QDialog>
#include <QList>
#include <QRect>
#include <QString>
#include <QWidget>

class QComboBox;
class QPushButton;
class QStackedWidget;
class QTabBar;
class CDataExchange;

class CPropertyPage : public QWidget
{
    Q_OBJECT
public:
    // sizeDu: the template's size in dialog units.
    CPropertyPage(int templateId, const QString& title, QSize sizeDu);

    int TemplateId() const { return m_templateId; }
    QString Title() const { return m_title; }
    bool IsCreated() const { return m_bCreated; }
    // Builds the controls and runs the initialisation, once.
    void Create();

    // A control by its resource identifier; null before the page is created.
    QWidget* GetDlgItem(int id) const;
    template <typename T> T* Item(int id) const { return qobject_cast<T*>(GetDlgItem(id)); }

    // Controls to values (save) or values to controls; false when a value
    // failed validation (its message was shown and its control has the focus).
    bool UpdateData(bool save);
    virtual bool OnKillActive() { return UpdateData(true); }

protected:
    virtual void CreateControls() = 0;
    virtual void DoDataExchange(CDataExchange& dx) = 0;
    virtual void OnInitDialog() { UpdateData(false); }

    // Makes a control, with its text when given; rectangles are page
    // coordinates in dialog units, also for controls inside a group. id 0
    // leaves the control unnamed.
    template <typename T> T* Add(int id, QRect du, QWidget* parent = nullptr)
    {
        T* w = new T(parent ? parent : this);
        Place(w, id, du);
        return w;
    }
    template <typename T> T* Add(int id, const QString& text, QRect du, QWidget* parent = nullptr)
    {
        T* w = new T(text, parent ? parent : this);
        Place(w, id, du);
        return w;
    }
    void Place(QWidget* w, int id, QRect du);

    void EnableItem(int id, bool enable);
    void CheckItem(int id, bool check);
    bool IsItemChecked(int id) const;
    // Runs handler on every user click of the button with this id.
    template <typename F> void OnClicked(int id, F handler);
    QAbstractButton* ButtonItem(int id) const;

    const DialogUnits m_du;

private:
    int m_templateId;
    QString m_title;
    bool m_bCreated = false;
};

class CPropertySheet : public QDialog
{
    Q_OBJECT
public:
    explicit CPropertySheet(const QString& caption, QWidget* parent = nullptr, int selectPage = 0);

    void AddPage(CPropertyPage* page);
    int GetPageCount() const { return m_pages.size(); }
    CPropertyPage* GetPage(int index) const { return m_pages.value(index); }
    int GetActiveIndex() const { return m_active; }
    CPropertyPage* GetActivePage() const { return GetPage(m_active); }
    QTabBar* tabBar() const { return m_tabBar; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }

public slots:
    // OK: leaves the shown page (validating it), then reads back every other
    // page that was created; a failure keeps the sheet open on that page.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnTabChanged(int index);
    void Activate(int index);
    void StepPage(int delta);

    QTabBar* m_tabBar;
    QStackedWidget* m_stack;
    QPushButton* m_ok;
    QPushButton* m_cancel;
    QList<CPropertyPage*> m_pages;
    int m_active = -1;
    int m_selectPage;
};

template <typename F> void CPropertyPage::OnClicked(int id, F handler)
{
    if (QAbstractButton* button = ButtonItem(id))
        connect(button, &QAbstractButton::clicked, this, handler);
}

// Reads or fills a page's controls; the first failure stops the exchange.
class CDataExchange
{
public:
    CDataExchange(CPropertyPage* page, bool save) : m_pDlgWnd(page), m_bSaveAndValidate(save) {}
    // The control the next rules refer to; null when the id is unknown.
    QWidget* PrepareCtrl(int id);
    // Shows the message, then puts the focus on the last prepared control.
    void Fail(const QString& message);
    bool Failed() const { return m_bFailed; }

    CPropertyPage* const m_pDlgWnd;
    const bool m_bSaveAndValidate;

private:
    QWidget* m_lastCtrl = nullptr;
    bool m_bFailed = false;
};

void DDX_Text(CDataExchange& dx, int id, QString& value);
// Unsigned decimal with blanks around it; anything else fails.
void DDX_Text(CDataExchange& dx, int id, unsigned& value);
void DDX_Text(CDataExchange& dx, int id, int& value);
// Up to 6 significant digits shown; a decimal number with blanks around it read.
void DDX_Text(CDataExchange& dx, int id, float& value);
void DDX_Check(CDataExchange& dx, int id, int& value);
// Reading takes the list's text; filling selects the first item that begins
// with the value, ignoring case.
void DDX_CBString(CDataExchange& dx, int id, QString& value);
void DDV_MinMaxUInt(CDataExchange& dx, long long value, unsigned minVal, unsigned maxVal);
void DDV_MinMaxFloat(CDataExchange& dx, float value, float minVal, float maxVal);

// Parsing and showing numbers as the pages do; exposed for the rules' tests.
bool ParseUnsignedText(const QString& text, unsigned long long& value);
bool ParseNumberText(const QString& text, double& value);
QString FloatText(float value);
// Selects the first item beginning with text (ignoring case), or none.
void SelectStringPrefix(QComboBox* combo, const QString& text);
// Inserts keeping the list sorted without regard to case.
void AddSortedItem(QComboBox* combo, const QString& text);
