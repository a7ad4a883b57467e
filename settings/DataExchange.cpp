#include "PropertySheet.h"

#include "app/SettingsModel.h"
#include "platform/afx/afx.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QRegularExpression>
#include <limits>

namespace
{

QString EditText(CDataExchange& dx, int id)
{
    auto* edit = qobject_cast<QLineEdit*>(dx.PrepareCtrl(id));
    return edit ? edit->text() : QString();
}

void SetEditText(CDataExchange& dx, int id, const QString& text)
{
    if (auto* edit = qobject_cast<QLineEdit*>(dx.PrepareCtrl(id)))
        edit->setText(text);
}

// The unsigned rule shared by the count edits; the value saturates so that a
// huge number meets the range rule rather than wrapping into range.
bool ReadUnsigned(CDataExchange& dx, int id, unsigned long long limit, unsigned long long& value)
{
    if (!ParseUnsignedText(EditText(dx, id), value)) {
        dx.Fail(QStringLiteral("Please enter a positive integer."));
        return false;
    }
    value = qMin(value, limit);
    return true;
}

template <typename T> void ExchangeCount(CDataExchange& dx, int id, T& value)
{
    if (dx.Failed())
        return;
    unsigned long long v = 0;
    if (!dx.m_bSaveAndValidate)
        SetEditText(dx, id, QString::number(value));
    else if (ReadUnsigned(dx, id, std::numeric_limits<T>::max(), v))
        value = T(v);
}

} // namespace

QWidget* CDataExchange::PrepareCtrl(int id)
{
    m_lastCtrl = m_pDlgWnd->GetDlgItem(id);
    return m_lastCtrl;
}

void CDataExchange::Fail(const QString& message)
{
    m_bFailed = true;
    AfxMessageBox(message, MB_ICONEXCLAMATION);
    if (!m_lastCtrl)
        return;
    m_lastCtrl->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(m_lastCtrl))
        edit->selectAll();
}

bool ParseUnsignedText(const QString& text, unsigned long long& value)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return false;
    unsigned long long v = 0;
    for (QChar c : t) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        v = qMin(v * 10 + unsigned(c.unicode() - '0'), 0xFFFFFFFFFFull);
    }
    value = v;
    return true;
}

bool ParseNumberText(const QString& text, double& value)
{
    // Decimal notation only: no hex, infinity or NaN slipping past the range rule.
    static const QRegularExpression number(
        QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?$"));
    const QString t = text.trimmed();
    if (!number.match(t).hasMatch())
        return false;
    value = ParseMaxFps(t);
    return true;
}

QString FloatText(float value)
{
    return QString::asprintf("%.6g", double(value));
}

void DDX_Text(CDataExchange& dx, int id, QString& value)
{
    if (dx.Failed())
        return;
    if (dx.m_bSaveAndValidate)
        value = EditText(dx, id);
    else
        SetEditText(dx, id, value);
}

void DDX_Text(CDataExchange& dx, int id, unsigned& value)
{
    ExchangeCount(dx, id, value);
}

void DDX_Text(CDataExchange& dx, int id, int& value)
{
    ExchangeCount(dx, id, value);
}

void DDX_Text(CDataExchange& dx, int id, float& value)
{
    if (dx.Failed())
        return;
    if (!dx.m_bSaveAndValidate) {
        SetEditText(dx, id, FloatText(value));
        return;
    }
    double v = 0;
    if (!ParseNumberText(EditText(dx, id), v))
        dx.Fail(QStringLiteral("Please enter a number."));
    else
        value = float(v);
}

void DDX_Check(CDataExchange& dx, int id, int& value)
{
    if (dx.Failed())
        return;
    auto* button = qobject_cast<QAbstractButton*>(dx.PrepareCtrl(id));
    if (!button)
        return;
    if (dx.m_bSaveAndValidate)
        value = button->isChecked() ? 1 : 0;
    else
        button->setChecked(value != 0);
}

void DDX_CBString(CDataExchange& dx, int id, QString& value)
{
    if (dx.Failed())
        return;
    auto* combo = qobject_cast<QComboBox*>(dx.PrepareCtrl(id));
    if (!combo)
        return;
    if (dx.m_bSaveAndValidate)
        value = combo->currentText();
    else
        SelectStringPrefix(combo, value);
}

void DDV_MinMaxUInt(CDataExchange& dx, long long value, unsigned minVal, unsigned maxVal)
{
    if (dx.Failed() || !dx.m_bSaveAndValidate)
        return;
    if (value < minVal || value > maxVal)
        dx.Fail(
            QStringLiteral("Please enter an integer between %1 and %2.").arg(minVal).arg(maxVal));
}

void DDV_MinMaxFloat(CDataExchange& dx, float value, float minVal, float maxVal)
{
    if (dx.Failed() || !dx.m_bSaveAndValidate)
        return;
    if (!(value >= minVal && value <= maxVal))
        dx.Fail(QStringLiteral("Please enter a number between %1 and %2.")
                    .arg(FloatText(minVal), FloatText(maxVal)));
}

void SelectStringPrefix(QComboBox* combo, const QString& text)
{
    combo->setCurrentIndex(combo->findText(text, Qt::MatchStartsWith));
}

void AddSortedItem(QComboBox* combo, const QString& text)
{
    int pos = 0;
    while (pos < combo->count() &&
           QString::compare(combo->itemText(pos), text, Qt::CaseInsensitive) <= 0)
        ++pos;
    combo->insertItem(pos, text);
}
