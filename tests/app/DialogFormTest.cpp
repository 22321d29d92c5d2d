#include "app/DialogForm.h"

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <string>
#include <vector>

#include "resources/Forms.h"
#include "resources/ResourceIds.h"

namespace {

class DialogFormTest : public ::testing::Test {
  protected:
    QDialog dialog;
    DialogForm form{&dialog, resources::MainForm()};

    template <typename T = QWidget>
    T* Find(const char* name) {
        return dialog.findChild<T*>(QString::fromUtf8(name));
    }
    void Activate() {
        dialog.show();
        dialog.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    }
};

TEST(DialogUnitsTest, AreAQuarterOfTheWidthAndAnEighthOfTheHeightOfTheFont) {
    const DialogUnits units{7, 15};
    EXPECT_EQ(units.X(319), 558);  // 558.25
    EXPECT_EQ(units.X(50), 88);    // 87.5 rounds up
    EXPECT_EQ(units.Y(181), 339);  // 339.375
    EXPECT_EQ(units.Y(12), 23);    // 22.5 rounds up
    QFont font = QApplication::font();
    font.setPixelSize(10);
    const DialogUnits small = DialogUnits::Of(font);
    font.setPixelSize(20);
    EXPECT_GT(DialogUnits::Of(font).averageWidth, small.averageWidth);
    EXPECT_GT(DialogUnits::Of(font).averageHeight, small.averageHeight);
}

TEST_F(DialogFormTest, MakesEveryControlInFormOrderWhereTheFormPutsIt) {
    const auto& controls = resources::MainForm().controls;
    ASSERT_EQ(controls.size(), 22u);
    ASSERT_EQ(form.Controls().size(), controls.size());
    const DialogUnits& u = form.Units();
    std::vector<std::string> tabStops, chain;
    for (size_t i = 0; i < controls.size(); ++i) {
        const auto& c = controls[i];
        QWidget* widget = form.Controls()[i];
        EXPECT_EQ(widget->objectName().toStdString(), c.name);
        EXPECT_EQ(widget->parentWidget(), &dialog) << c.name;
        EXPECT_EQ(widget->geometry(), QRect(u.X(c.x), u.Y(c.y), u.X(c.width), u.Y(c.height))) << c.name;
        EXPECT_EQ(widget->isEnabled(), (c.style & resources::kDisabled) == 0) << c.name;
        EXPECT_EQ(form.Item(c.id), c.id != IDC_STATIC ? widget : nullptr) << c.name;
        if (c.kind != resources::ControlKind::StaticText && c.kind != resources::ControlKind::GroupBox) {
            tabStops.push_back(c.name);
        }
    }
    for (QWidget* w = dialog.nextInFocusChain(); w != &dialog; w = w->nextInFocusChain()) {
        if (w->parentWidget() == &dialog && w->focusPolicy() != Qt::NoFocus) {
            chain.push_back(w->objectName().toStdString());
        }
    }
    EXPECT_EQ(chain, tabStops);
    EXPECT_EQ(dialog.windowTitle(), "Tovaro Utility");
    EXPECT_EQ(dialog.size(), QSize(u.X(319), u.Y(181)));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    EXPECT_EQ(form.Item(4711), nullptr);
}

TEST_F(DialogFormTest, ControlsHaveTheirKindsAndTexts) {
    const struct {
        const char *name, *metaClass, *text;
    } cases[] = {
        {"IDOK", "QPushButton", "&OK"},
        {"IDCANCEL", "QPushButton", "&Cancel"},
        {"ID_HELP", "QPushButton", "&Help"},
        {"IDC_BROWSE_FROM", "QPushButton", "..."},
        {"IDC_STATUS", "QLabel", "Status:"},
        {"labelFrom", "QLabel", "&From (Camera Folder)"},
        {"labelTo", "QLabel", "&To (Folder On Your Computer)"},
        {"labelRenameNew", "QLabel", "Ne&w"},
        {"IDC_APPEND_GROUP", "QGroupBox", ""},
        {"IDC_APPEND_NOTHING", "QRadioButton", "&Nothing:"},
        {"IDC_APPEND_TEXT", "QRadioButton", "Te&xt:"},
        {"IDC_APPEND_DATE", "QRadioButton", "Date of &Photo:"},
        {"IDC_APPEND_NUMBER", "QRadioButton", "Nu&mber:"},
        {"IDC_APPEND_RENAME", "QRadioButton", "&Rename:"},
        {"IDC_SEND_TO_ZIP", "QCheckBox", "&Send Files To Zip:"},
        {"IDC_FROMDIR", "FormEdit", ""},
        {"IDC_NUMBER", "FormEdit", ""},
    };
    for (const auto& c : cases) {
        QWidget* widget = Find(c.name);
        ASSERT_NE(widget, nullptr) << c.name;
        EXPECT_TRUE(widget->inherits(c.metaClass)) << c.name;
        QString text;
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            text = button->text();
        } else if (auto* label = qobject_cast<QLabel*>(widget)) {
            text = label->text();
        } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
            text = edit->text();
        }
        EXPECT_EQ(text.toStdString(), c.text) << c.name;
    }
    EXPECT_TRUE(Find<QPushButton>("IDOK")->isDefault());
    EXPECT_FALSE(Find<QPushButton>("IDCANCEL")->isDefault());
    EXPECT_EQ(Find<QLabel>("IDC_STATUS")->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(Find<QLabel>("labelRenameNew")->buddy(), Find("IDC_RENAME_NEW"));
    EXPECT_EQ(Find<QLabel>("IDC_STATUS")->buddy(), nullptr);

    Activate();  // a label's mnemonic focuses the next tab stop
    Find("IDOK")->setFocus();
    QTest::keyClick(&dialog, Qt::Key_T, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), Find("IDC_TODIR"));
    QTest::keyClick(&dialog, Qt::Key_F, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), Find("IDC_FROMDIR"));
}

TEST_F(DialogFormTest, NamingOptionsFormOneExclusiveGroup) {
    const auto radios = form.RadioGroup(IDC_APPEND_NOTHING);
    std::vector<std::string> names;
    for (auto* r : radios) {
        names.push_back(r->objectName().toStdString());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"IDC_APPEND_NOTHING", "IDC_APPEND_TEXT", "IDC_APPEND_DATE",
                                               "IDC_APPEND_NUMBER", "IDC_APPEND_RENAME"}));
    EXPECT_EQ(form.CheckedRadio(IDC_APPEND_NOTHING), -1);
    Activate();
    QTest::mouseClick(radios[1], Qt::LeftButton);
    QTest::mouseClick(radios[4], Qt::LeftButton);
    EXPECT_EQ(form.CheckedRadio(IDC_APPEND_NOTHING), 4);
    EXPECT_FALSE(radios[1]->isChecked());
    form.CheckRadio(IDC_APPEND_NOTHING, 2);
    EXPECT_EQ(form.CheckedRadio(IDC_APPEND_NOTHING), 2);
    form.CheckRadio(IDC_APPEND_NOTHING, -1);
    EXPECT_EQ(form.CheckedRadio(IDC_APPEND_NOTHING), -1);
    QTest::mouseClick(radios[0], Qt::LeftButton);  // still exclusive after being cleared
    QTest::mouseClick(radios[3], Qt::LeftButton);
    EXPECT_EQ(form.CheckedRadio(IDC_APPEND_NOTHING), 3);
    EXPECT_FALSE(radios[0]->isChecked());
}

TEST_F(DialogFormTest, NumberBoxTakesOnlyDigitsFromTheKeyboard) {
    Activate();
    auto* number = Find<QLineEdit>("IDC_NUMBER");
    auto* text = Find<QLineEdit>("IDC_TEXT");
    number->setEnabled(true);
    text->setEnabled(true);
    number->setFocus();
    QTest::keyClicks(number, "a1b2 -3.");
    EXPECT_EQ(number->text(), "123");
    number->setText("~");  // text the program sets is taken as it is
    number->end(false);
    QTest::keyClicks(number, "x5");
    EXPECT_EQ(number->text(), "~5");
    text->setFocus();
    QTest::keyClicks(text, "a1 b");
    EXPECT_EQ(text->text(), "a1 b");
}

}  // namespace
