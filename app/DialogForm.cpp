#include "app/DialogForm.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDialog>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QIcon>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include "resources/AppResources.h"
#include "resources/ResourceIds.h"

using resources::ControlKind;
using resources::ControlTemplate;

namespace {

bool IsDigits(const QString& text) {
    for (QChar c : text) {
        if (c < u'0' || c > u'9') {
            return false;
        }
    }
    return true;
}

// A key that would insert text: anything printable typed without Ctrl or Alt (those are commands such as
// Ctrl+V, which edit boxes that take only digits still obey).
bool InsertsText(const QKeyEvent* event) {
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
        return false;
    }
    const QString text = event->text();
    return !text.isEmpty() && text.at(0).isPrint();
}

// A label's mnemonic: a single "&" before a character ("&&" stands for a plain "&").
bool HasMnemonic(const char* text) {
    const QString s = QString::fromUtf8(text);
    for (qsizetype i = 0; i + 1 < s.size(); ++i) {
        if (s[i] == u'&') {
            if (s[i + 1] != u'&') {
                return true;
            }
            ++i;
        }
    }
    return false;
}

}  // namespace

FormEdit::FormEdit(QWidget* parent) : QLineEdit(parent) {}

// A context menu opening is no change of focus for a dialog: the edit box keeps it.
void FormEdit::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    if (event->reason() != Qt::PopupFocusReason) {
        emit focusGained();
    }
}

void FormEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    if (event->reason() != Qt::PopupFocusReason) {
        emit focusLost();
    }
}

void FormEdit::keyPressEvent(QKeyEvent* event) {
    if (m_digitsOnly && InsertsText(event) && !IsDigits(event->text())) {
        event->accept();  // swallowed, as a digits-only box refuses the character
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void FormEdit::inputMethodEvent(QInputMethodEvent* event) {
    if (m_digitsOnly && !IsDigits(event->commitString())) {
        event->accept();
        return;
    }
    QLineEdit::inputMethodEvent(event);
}

DialogUnits DialogUnits::Of(const QFont& font) {
    // The average width as dialog managers have always measured it: the mean advance of the 52 letters,
    // rounded. The height is the font's line height.
    const QFontMetrics metrics(font);
    const int letters =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return DialogUnits{(letters / 26 + 1) / 2, metrics.height()};
}

// Rounded to the nearest pixel, halves up.
int DialogUnits::X(int units) const {
    return (units * averageWidth + 2) / 4;
}
int DialogUnits::Y(int units) const {
    return (units * averageHeight + 4) / 8;
}

DialogForm::DialogForm(QDialog* dialog, const resources::FormTemplate& form)
    : m_form(form), m_dialog(dialog), m_units{0, 0} {
    // The form states its font size for the desktops it was drawn on; here it takes the desktop's own font
    // and never draws smaller than the desktop's text, so the form scales with what the user reads elsewhere.
    QFont font = QApplication::font(dialog);
    if (font.pointSize() > 0 && font.pointSize() < form.pointSize) {
        font.setPointSize(form.pointSize);
    }
    dialog->setFont(font);
    m_units = DialogUnits::Of(font);

    dialog->setWindowTitle(QString::fromUtf8(form.caption));
    dialog->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint);
    dialog->setFixedSize(m_units.X(form.width), m_units.Y(form.height));

    // Widgets join the focus chain in the order they are made, so making them in form order gives the tab
    // order of the form.
    for (const ControlTemplate& control : form.controls) {
        m_controls.push_back(Create(control, dialog));
    }
    ConnectMnemonics();
    GroupRadios();
}

QWidget* DialogForm::Create(const ControlTemplate& control, QWidget* parent) {
    const QString text = QString::fromUtf8(control.text);
    QWidget* widget = nullptr;
    switch (control.kind) {
        case ControlKind::PushButton: {
            auto* button = new QPushButton(text, parent);
            button->setAutoDefault(true);
            button->setDefault((control.style & resources::kDefault) != 0);
            widget = button;
            break;
        }
        case ControlKind::StaticText: {
            auto* label = new QLabel(text, parent);
            label->setTextFormat(Qt::PlainText);
            if (control.style & resources::kCentered) {
                label->setAlignment(Qt::AlignCenter);
            } else {
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            }
            if (control.style & resources::kSunken) {
                label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            }
            widget = label;
            break;
        }
        case ControlKind::Picture: {
            // The program has one icon resource: its own icon.
            auto* label = new QLabel(parent);
            if (control.resource == IDR_MAINFRAME) {
                label->setPixmap(resources::AppIcon().pixmap(32, 32));
            }
            widget = label;
            break;
        }
        case ControlKind::GroupBox:
            widget = new QGroupBox(text, parent);
            break;
        case ControlKind::Edit: {
            auto* edit = new FormEdit(parent);
            edit->setText(text);
            edit->SetDigitsOnly((control.style & resources::kDigitsOnly) != 0);
            widget = edit;
            break;
        }
        case ControlKind::RadioButton:
            widget = new QRadioButton(text, parent);
            break;
        case ControlKind::CheckBox:
            widget = new QCheckBox(text, parent);
            break;
    }

    widget->setObjectName(QString::fromUtf8(control.name));
    widget->setGeometry(m_units.X(control.x), m_units.Y(control.y), m_units.X(control.width),
                        m_units.Y(control.height));
    widget->setEnabled((control.style & resources::kDisabled) == 0);
    const bool takesFocus = control.kind != ControlKind::StaticText && control.kind != ControlKind::Picture &&
                            control.kind != ControlKind::GroupBox;
    if (!takesFocus) {
        widget->setFocusPolicy(Qt::NoFocus);
    } else if (control.style & resources::kTabStop || control.kind == ControlKind::RadioButton) {
        // Radio buttons after the first of a group are reached with the arrow keys, and Tab enters a group
        // at its checked radio; Qt's exclusive button groups do both.
        widget->setFocusPolicy(Qt::StrongFocus);
    } else {
        widget->setFocusPolicy(Qt::ClickFocus);
    }
    return widget;
}

// A label's mnemonic moves the focus to the next control of the form that the Tab key visits.
void DialogForm::ConnectMnemonics() {
    const auto& controls = m_form.controls;
    for (size_t i = 0; i < controls.size(); ++i) {
        if (controls[i].kind != ControlKind::StaticText || (controls[i].style & resources::kNoPrefix) ||
            !HasMnemonic(controls[i].text)) {
            continue;
        }
        for (size_t j = i + 1; j < controls.size(); ++j) {
            if (controls[j].style & resources::kTabStop) {
                static_cast<QLabel*>(m_controls[i])->setBuddy(m_controls[j]);
                break;
            }
        }
    }
}

// Each group start opens a new group; the radio buttons within one group exclude each other.
void DialogForm::GroupRadios() {
    QButtonGroup* group = nullptr;
    const auto& controls = m_form.controls;
    for (size_t i = 0; i < controls.size(); ++i) {
        if (controls[i].style & resources::kGroupStart) {
            group = nullptr;
        }
        if (controls[i].kind != ControlKind::RadioButton) {
            continue;
        }
        if (group == nullptr) {
            group = new QButtonGroup(m_dialog);
            group->setExclusive(true);
            m_radioGroups.push_back(group);
        }
        group->addButton(static_cast<QAbstractButton*>(m_controls[i]));
    }
}

QWidget* DialogForm::Item(int id) const {
    if (id == IDC_STATIC) {
        return nullptr;
    }
    for (size_t i = 0; i < m_controls.size(); ++i) {
        if (m_form.controls[i].id == id) {
            return m_controls[i];
        }
    }
    return nullptr;
}

std::vector<QAbstractButton*> DialogForm::RadioGroup(int firstId) const {
    std::vector<QAbstractButton*> radios;
    const auto& controls = m_form.controls;
    size_t i = 0;
    while (i < controls.size() && (controls[i].id != firstId || firstId == IDC_STATIC)) {
        ++i;
    }
    for (size_t j = i; j < controls.size(); ++j) {
        if (j > i && (controls[j].style & resources::kGroupStart)) {
            break;
        }
        if (controls[j].kind == ControlKind::RadioButton) {
            radios.push_back(static_cast<QAbstractButton*>(m_controls[j]));
        }
    }
    return radios;
}

void DialogForm::CheckRadio(int firstId, int index) const {
    const auto radios = RadioGroup(firstId);
    // An exclusive group refuses to clear its checked button, so it is opened for the change.
    std::vector<QButtonGroup*> groups;
    for (auto* radio : radios) {
        if (radio->group() != nullptr && radio->group()->exclusive()) {
            radio->group()->setExclusive(false);
            groups.push_back(radio->group());
        }
    }
    for (size_t i = 0; i < radios.size(); ++i) {
        radios[i]->setChecked(static_cast<int>(i) == index);
    }
    for (auto* group : groups) {
        group->setExclusive(true);
    }
}

int DialogForm::CheckedRadio(int firstId) const {
    const auto radios = RadioGroup(firstId);
    for (size_t i = 0; i < radios.size(); ++i) {
        if (radios[i]->isChecked()) {
            return static_cast<int>(i);
        }
    }
    return -1;
}
