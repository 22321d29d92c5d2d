// Builds a dialog's widgets from a form table (resources/Forms.h), the way a dialog manager does: controls in
// form order (which is the tab order), positions in dialog units scaled by the dialog font, radio groups by
// the group starts, label mnemonics that focus the next tab stop, and the default push button.
#pragma once

#include <QLineEdit>
#include <vector>

#include "resources/Forms.h"

class QAbstractButton;
class QButtonGroup;
class QDialog;
class QFont;
class QWidget;

// A single-line edit box that tells its dialog when it gains or loses the focus, after it has taken the
// change itself (as an edit box's own notifications do), and that can take only digits from the keyboard.
class FormEdit : public QLineEdit {
    Q_OBJECT
  public:
    explicit FormEdit(QWidget* parent);
    // Typed characters other than 0-9 are dropped. Text set by the program, and pasted text, is not filtered.
    void SetDigitsOnly(bool digitsOnly) { m_digitsOnly = digitsOnly; }

  signals:
    void focusGained();
    void focusLost();

  protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

  private:
    bool m_digitsOnly = false;
};

// Dialog units of a font: a quarter of its average character width, an eighth of its height.
struct DialogUnits {
    int averageWidth;   // pixels
    int averageHeight;  // pixels

    static DialogUnits Of(const QFont& font);
    int X(int units) const;
    int Y(int units) const;
};

class DialogForm {
  public:
    // Creates the form's controls as children of `dialog` (which must have no children yet) and gives the
    // dialog the form's caption, font and fixed size.
    DialogForm(QDialog* dialog, const resources::FormTemplate& form);

    // The control with `id`; null when the form has none. Controls with IDC_STATIC are found by name only.
    QWidget* Item(int id) const;
    // Every control, in form order.
    const std::vector<QWidget*>& Controls() const { return m_controls; }
    const resources::FormTemplate& Template() const { return m_form; }

    // The radio buttons of the group that begins with `firstId`: from that control, in form order, up to the
    // next control that starts a group. Controls in the group that are no radio buttons are left out.
    std::vector<QAbstractButton*> RadioGroup(int firstId) const;

    // Checks the `index`th radio of the group that begins with `firstId` and clears the others; an index
    // outside the group clears them all.
    void CheckRadio(int firstId, int index) const;
    // The index of the checked radio of that group, or -1 when none is checked.
    int CheckedRadio(int firstId) const;

  private:
    QWidget* Create(const resources::ControlTemplate& control, QWidget* parent);
    void ConnectMnemonics();
    void GroupRadios();

    const resources::FormTemplate& m_form;
    QDialog* m_dialog;
    DialogUnits m_units;
    std::vector<QWidget*> m_controls;
    std::vector<QButtonGroup*> m_radioGroups;
};
