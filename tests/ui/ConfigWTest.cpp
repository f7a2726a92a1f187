#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>

#include "common/ScriptedOperator.h"
#include "common/TempDir.h"
#include "config/ChannelStore.h"
#include "config/windows/ConfigW.h"
#include "measure/MeasureState.h"
#include "serial/SerialSettings.h"
#include "ui/UiFakes.h"

namespace merival {
namespace {

using test::CurrentTempDir;
using test::ScriptedOperator;

ChannelRecord Channel(qint16 selected, qint16 type, const QString& address, const QString& tag,
                      bool base) {
    return {selected, type, address, tag, base, !base};
}

class ConfigWTest : public ::testing::Test {
protected:
    void SetUp() override {
        ChannelRecords records;
        records[0] = Channel(1, 2, "2", "Bassin", true);
        records[1] = Channel(0, 5, "4", "Débit1", true);
        records[2] = Channel(1, 5, "3", "Sortie, eau", false);
        records[3] = Channel(0, -1, "", "", false);
        records[3].ExtBlock = false;
        WriteConfig(records);
        SerialSettings serial;
        serial.Port = 3;
        serial.SpeedIndex = 2;
        ASSERT_TRUE(dir.write("PortCom.dat", WriteSerialSettingsText(serial)));
        window = std::make_unique<ConfigW>(store, settings, state, op, [this] {
            ++mainShown;
            titlesAtHandOver = {store.ChannelTitle(0), store.ChannelTitle(1), store.ChannelTitle(2),
                                store.ChannelTitle(3)};
        });
    }

    void WriteConfig(const ChannelRecords& records) {
        ASSERT_TRUE(dir.write("config.txt", WriteChannelConfigText(records)));
    }

    void Load() {
        window->Form_Load();
        op.shown.clear();
        op.beeps = 0;
    }

    // Row k looks selected: green box, blue label, its editors shown.
    void ExpectLook(int k, bool selected) {
        SCOPED_TRACE(QStringLiteral("row %1").arg(k).toStdString());
        const auto r = static_cast<size_t>(k);
        EXPECT_EQ(window->Coche1[r]->palette().color(QPalette::Window),
                  selected ? QColor(0, 255, 0) : QColor(255, 255, 255));
        EXPECT_EQ(window->Etiquette1[r]->palette().color(QPalette::WindowText),
                  selected ? QColor(0, 0, 255) : QColor(128, 128, 128));
        EXPECT_EQ(window->ListeTypeMesure[r]->isVisibleTo(window.get()), selected);
        EXPECT_EQ(window->Frame1[r]->isVisibleTo(window.get()), selected);
        EXPECT_EQ(window->AdresseStation[r]->isVisibleTo(window.get()), selected);
        EXPECT_EQ(window->Texte2[r]->isVisibleTo(window.get()), selected);
    }

    void Type(QWidget* widget, const QString& text) {
        for (QChar c : text) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QApplication::sendEvent(widget, &press);
        }
    }

    CurrentTempDir dir;
    ChannelStore store;
    SerialSettings settings;
    MeasureState state;
    ScriptedOperator op;
    std::unique_ptr<ConfigW> window;
    int mainShown = 0;
    std::array<QString, 4> titlesAtHandOver;
};

TEST_F(ConfigWTest, LoadSetsCaptionsListsAndStartUpState) {
    window->Form_Load();
    EXPECT_TRUE(op.shown.empty()) << op.texts().join(" | ").toStdString();
    EXPECT_EQ(window->windowTitle(), "Configuration [ Application ]  ");
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->windowState() & Qt::WindowMaximized);
    EXPECT_EQ(window->Etiquette6->text(), "Sélection");
    EXPECT_EQ(window->Etiquette2->text(), "Type de mesure");
    EXPECT_EQ(window->Etiquette3->text(), "Station");
    EXPECT_EQ(window->Etiquette4->text(), "Repère");
    EXPECT_EQ(window->Commande1->text(), "OK");
    EXPECT_EQ(window->Commande2->text(), "ABANDON");
    for (QLabel* title : window->Etiquette5) {
        EXPECT_EQ(title->text(), "Paramétrage des voies de mesure");
    }
    EXPECT_EQ(window->Etiquette5[0]->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_EQ(window->Etiquette5[1]->palette().color(QPalette::WindowText), QColor(128, 128, 128));
    const QPoint shadow = window->Etiquette5[1]->pos() - window->Etiquette5[0]->pos();
    EXPECT_EQ(shadow, QPoint(qMax(1, window->logicalDpiX() * 30 / 1440),
                             qMax(1, window->logicalDpiY() * 15 / 1440)));

    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        const auto r = static_cast<size_t>(k);
        EXPECT_EQ(window->Etiquette1[r]->text(), QStringLiteral("Voie %1").arg(k));
        QComboBox* list = window->ListeTypeMesure[r];
        EXPECT_FALSE(list->isEditable());
        QStringList entries;
        for (int i = 0; i < list->count(); ++i) {
            entries << list->itemText(i);
        }
        EXPECT_EQ(entries, InstrumentTypeList());
        EXPECT_EQ(window->Label[r][0]->text(), "Base");
        EXPECT_EQ(window->Label[r][1]->text(), "Ext.");
        EXPECT_TRUE(window->Option[r][0]->isVisibleTo(window->Frame1[r]));
        EXPECT_TRUE(window->Label[r][1]->isVisibleTo(window->Frame1[r]));
    }
    EXPECT_EQ(state.EscapeKey, QString(QChar(27)));
    EXPECT_EQ(settings.Port, 3);
    EXPECT_EQ(settings.SpeedIndex, 2);

    // The controls show the file's content, and the loaded rows their look.
    EXPECT_EQ(window->Coche1[0]->checkState(), Qt::Checked);
    EXPECT_EQ(window->ListeTypeMesure[0]->currentText(), "pH");
    EXPECT_EQ(window->AdresseStation[2]->text(), "3");
    EXPECT_EQ(window->Texte2[2]->text(), "Sortie, eau");
    EXPECT_TRUE(window->Option[0][0]->isChecked());
    EXPECT_TRUE(window->Option[2][1]->isChecked());
    EXPECT_FALSE(window->Option[3][0]->isChecked());
    EXPECT_FALSE(window->Option[3][1]->isChecked());
    EXPECT_EQ(window->ListeTypeMesure[3]->currentIndex(), -1);
    ExpectLook(0, true);
    ExpectLook(1, false);
    ExpectLook(2, true);
    ExpectLook(3, false);
}

TEST_F(ConfigWTest, MissingFilesAreReportedAndTheDialogStillOpens) {
    QFile::remove(dir.filePath("config.txt"));
    QFile::remove(dir.filePath("PortCom.dat"));
    window->Form_Load();
    ASSERT_EQ(op.shown.size(), 2u) << op.texts().join(" | ").toStdString();
    EXPECT_TRUE(op.shown[0].text.contains("config.txt"));
    EXPECT_TRUE(op.shown[1].text.contains("PortCom.dat"));
    for (const auto& shown : op.shown) {
        EXPECT_EQ(shown.icon, OperatorIcon::Exclamation);
        EXPECT_FALSE(shown.question);
    }
    EXPECT_EQ(op.beeps, 2);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(settings, SerialSettings{});
    for (int k = 0; k < 4; ++k) {
        ExpectLook(k, false);
    }
    EXPECT_EQ(state.EscapeKey, QString(QChar(27)));
}

TEST_F(ConfigWTest, ClickingTheChannelLabelTogglesTheRowAndItsLook) {
    Load();
    ExpectLook(2, true);
    // A real click on "Voie 2" and on "Voie 1".
    for (int k : {2, 1}) {
        QLabel* label = window->Etiquette1[static_cast<size_t>(k)];
        const QPointF at(2, 2);
        QMouseEvent press(QEvent::MouseButtonPress, at, label->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, label->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(label, &press);
        QApplication::sendEvent(label, &release);
    }
    EXPECT_FALSE(store.IsSelected(2));
    EXPECT_EQ(window->Coche1[2]->checkState(), Qt::Unchecked);
    ExpectLook(2, false);
    EXPECT_TRUE(store.IsSelected(1));
    EXPECT_EQ(window->Coche1[1]->checkState(), Qt::Checked);
    ExpectLook(1, true);

    window->Etiquette1_Click(2);
    ExpectLook(2, true);
    EXPECT_EQ(store.Record(2).Selected, 1);
}

TEST_F(ConfigWTest, ThirdCheckStateFromTheFileIsNotSelectedAndAClickSelects) {
    ChannelRecords records;
    records[1].Selected = 2;
    records[1].TypeIndex = 3;
    WriteConfig(records);
    Load();
    EXPECT_EQ(window->Coche1[1]->checkState(), Qt::PartiallyChecked);
    ExpectLook(1, false);

    window->Coche1[1]->click();
    EXPECT_EQ(window->Coche1[1]->checkState(), Qt::Checked);
    EXPECT_EQ(store.Record(1).Selected, 1);
    ExpectLook(1, true);
    window->Coche1[1]->click();
    EXPECT_EQ(window->Coche1[1]->checkState(), Qt::Unchecked);
    EXPECT_EQ(store.Record(1).Selected, 0);
    ExpectLook(1, false);

    // The label of a row in the third state selects it.
    store.setSelected(3, 2);
    window->Etiquette1_Click(3);
    EXPECT_EQ(store.Record(3).Selected, 1);
}

TEST_F(ConfigWTest, EditsGoToTheStoreAndStoreChangesToTheControls) {
    Load();
    window->ListeTypeMesure[0]->activated(12);
    EXPECT_EQ(store.ChannelType(0), 12);

    window->AdresseStation[0]->clear();
    window->AdresseStation[0]->setFocus();
    Type(window->AdresseStation[0], "1\"1");
    EXPECT_EQ(window->AdresseStation[0]->text(), "11") << "the double quote is refused";
    EXPECT_EQ(store.ChannelAddress(0), "11");

    window->Texte2[0]->setText("Cuve");
    Type(window->Texte2[0], "\" é,");
    EXPECT_EQ(store.Record(0).Tag, "Cuve é,");

    window->Option[0][1]->click();
    EXPECT_TRUE(store.Record(0).ExtBlock);
    EXPECT_FALSE(store.IsBaseBlock(0));
    EXPECT_FALSE(window->Option[0][0]->isChecked());
    // Clicking the chosen option again keeps it chosen.
    window->Option[0][1]->click();
    EXPECT_TRUE(window->Option[0][1]->isChecked());
    EXPECT_TRUE(store.Record(0).ExtBlock);

    store.setTypeIndex(2, 13);
    store.setAddress(2, "9");
    store.setTag(2, "R2");
    store.setBaseBlock(2, true);
    store.setSelected(2, 0);
    EXPECT_EQ(window->ListeTypeMesure[2]->currentText(), "R_847");
    EXPECT_EQ(window->AdresseStation[2]->text(), "9");
    EXPECT_EQ(window->Texte2[2]->text(), "R2");
    EXPECT_TRUE(window->Option[2][0]->isChecked());
    EXPECT_FALSE(window->Option[2][1]->isChecked());
    ExpectLook(2, false);
}

TEST_F(ConfigWTest, TextTheFileCannotHoldIsRefusedWithABeepAndAMessage) {
    Load();
    window->Texte2[0]->clear();
    window->Texte2[0]->setFocus();
    Type(window->Texte2[0], QStringLiteral("pH € bassin Ω"));
    EXPECT_EQ(window->Texte2[0]->text(), "pH € bassin ");
    EXPECT_EQ(store.Record(0).Tag, "pH € bassin ");
    ASSERT_EQ(op.shown.size(), 1u);
    EXPECT_EQ(op.shown[0].text,
              "Caractère refusé : « Ω ». Le fichier « config.txt » ne peut pas "
              "l'enregistrer (jeu de caractères Windows-1252).");
    EXPECT_EQ(op.shown[0].icon, OperatorIcon::Exclamation);
    EXPECT_EQ(op.beeps, 1);

    // A paste that holds one such character is refused whole; so is the double quote, and
    // an emoji (two UTF-16 units) in the address box.
    window->Texte2[0]->insert(QStringLiteral("ok → non"));
    EXPECT_EQ(window->Texte2[0]->text(), "pH € bassin ");
    Type(window->Texte2[0], "\"");
    window->AdresseStation[0]->setText("2");
    window->AdresseStation[0]->insert(QStringLiteral("😀"));
    EXPECT_EQ(window->AdresseStation[0]->text(), "2");
    ASSERT_EQ(op.shown.size(), 4u);
    EXPECT_TRUE(op.shown[1].text.contains("« → »"));
    EXPECT_TRUE(op.shown[2].text.contains("« \" »"));
    EXPECT_TRUE(op.shown[2].text.contains("le guillemet y termine le texte"));
    EXPECT_TRUE(op.shown[3].text.contains("Windows-1252"));
    EXPECT_EQ(op.beeps, 4);

    window->Commande1_Click();
    EXPECT_TRUE(dir.read("config.txt").contains("\"2\",\"pH \x80 bassin \""));
}

TEST_F(ConfigWTest, ColumnHeadingsKeepTheirPlacesWhateverTheSelection) {
    ChannelRecords none;
    WriteConfig(none);
    Load();
    window->showNormal();
    window->adjustSize();
    auto places = [this] {
        QApplication::processEvents();
        QList<int> x;
        for (const QLabel* heading :
             {window->Etiquette6, window->Etiquette2, window->Etiquette3, window->Etiquette4}) {
            x << heading->mapTo(window.get(), QPoint(0, 0)).x();
        }
        return std::make_pair(x, window->sizeHint());
    };
    const auto unselected = places();
    store.setSelected(1, 1);
    EXPECT_EQ(places(), unselected);
    store.setSelected(1, 0);
    EXPECT_EQ(places(), unselected);
}

TEST_F(ConfigWTest, AddressOutsideOneToFourteenIsRefusedWhenLeavingTheBox) {
    Load();
    struct Row {
        const char* text;
        bool refused;
    };
    const Row rows[] = {{"0", true},     {"15", true},   {"", true},      {"abc", true},
                        {"-3", true},    {"14.5", true}, {"1", false},    {"14", false},
                        {"7abc", false}, {"2.5", false}, {" 1 2", false}, {"&HA", false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        op.shown.clear();
        op.beeps = 0;
        window->Commande1->setFocus();
        window->AdresseStation[0]->setText(row.text);
        window->AdresseStation_LostFocus(0);
        if (row.refused) {
            ASSERT_EQ(op.shown.size(), 1u);
            EXPECT_EQ(op.shown[0].text, "Erreur d'adresse");
            EXPECT_EQ(op.shown[0].icon, OperatorIcon::Exclamation);
            EXPECT_EQ(op.beeps, 1);
            EXPECT_EQ(window->focusWidget(), window->AdresseStation[0]);
        } else {
            EXPECT_TRUE(op.shown.empty());
            EXPECT_EQ(op.beeps, 0);
            EXPECT_EQ(window->focusWidget(), window->Commande1);
        }
        EXPECT_EQ(window->AdresseStation[0]->text(), QString(row.text)) << "text stays as typed";
    }
}

TEST_F(ConfigWTest, MovingTheFocusOutOfARefusedBoxDoesNotBounceBetweenBoxes) {
    Load();
    window->activateWindow();
    QApplication::setActiveWindow(window.get());
    window->AdresseStation[0]->setText("0");
    window->AdresseStation[2]->setText("");
    window->AdresseStation[0]->setFocus(Qt::TabFocusReason);
    // The operator tabs from one invalid box into another invalid one.
    window->AdresseStation[2]->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(op.shown.size(), 1u) << op.texts().join(" | ").toStdString();
    EXPECT_EQ(op.shown[0].text, "Erreur d'adresse");
    EXPECT_EQ(window->focusWidget(), window->AdresseStation[0]);

    // Leaving a valid box says nothing; deselecting a row hides its box without a refusal.
    op.shown.clear();
    window->AdresseStation[0]->setText("5");
    window->Texte2[0]->setFocus(Qt::MouseFocusReason);
    window->AdresseStation[2]->setFocus(Qt::MouseFocusReason);
    window->Etiquette1_Click(2);
    EXPECT_TRUE(op.shown.empty()) << op.texts().join(" | ").toStdString();
}

TEST_F(ConfigWTest, OkRefusesEqualAddressesOnTheSameBlockOfSelectedRows) {
    struct Row {
        const char* name;
        std::array<ChannelRecord, 4> records;
        int focusRow;  // -1: saved
    };
    const Row rows[] = {
        {"0 and 2 at 3 on Base",
         {Channel(1, 2, "3", "a", true), Channel(0, 2, "1", "", true),
          Channel(1, 2, "3", "c", true), Channel(0, -1, "", "", true)},
         0},
        {"0 on Base, 2 on Ext.",
         {Channel(1, 2, "3", "a", true), Channel(0, 2, "1", "", true),
          Channel(1, 2, "3", "c", false), Channel(0, -1, "", "", true)},
         -1},
        {"3 and 03 differ as texts",
         {Channel(1, 2, "3", "a", true), Channel(1, 2, "03", "", true),
          Channel(0, 2, "3", "c", true), Channel(0, -1, "", "", true)},
         -1},
        {"unselected rows never conflict",
         {Channel(0, 2, "3", "a", true), Channel(1, 2, "3", "", false),
          Channel(0, 2, "3", "c", false), Channel(2, 2, "3", "", false)},
         -1},
        {"neither block chosen counts as the same block",
         {Channel(1, 2, "5", "a", true), Channel(1, 2, "5", "", true), Channel(0, 2, "", "", true),
          Channel(0, -1, "", "", true)},
         0},
        {"focus ends in the first row of the last pair",
         {Channel(1, 2, "5", "a", true), Channel(1, 2, "5", "b", true),
          Channel(1, 2, "6", "c", false), Channel(1, 2, "6", "d", false)},
         2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Load();
        for (int k = 0; k < 4; ++k) {
            const ChannelRecord& r = row.records[static_cast<size_t>(k)];
            store.setSelected(k, r.Selected);
            store.setTypeIndex(k, r.TypeIndex);
            store.setAddress(k, r.Address);
            store.setTag(k, r.Tag);
            store.setBaseBlock(k, r.BaseBlock);
            store.setExtBlock(k, r.ExtBlock);
        }
        if (std::string(row.name).starts_with("neither")) {
            store.setExtBlock(0, false);
            store.setExtBlock(1, false);
        }
        const ChannelRecords edited = store.Records();
        const QByteArray before = dir.read("config.txt");
        mainShown = 0;
        window->Commande1->setFocus();
        window->Commande1_Click();
        if (row.focusRow >= 0) {
            ASSERT_EQ(op.shown.size(), 1u);
            EXPECT_EQ(op.shown[0].text, "les adresses doivent être différentes");
            EXPECT_EQ(op.shown[0].icon, OperatorIcon::Exclamation);
            EXPECT_EQ(op.beeps, 1);
            EXPECT_EQ(window->focusWidget(),
                      window->AdresseStation[static_cast<size_t>(row.focusRow)]);
            EXPECT_EQ(dir.read("config.txt"), before) << "nothing saved";
            EXPECT_TRUE(window->isVisible());
            EXPECT_EQ(mainShown, 0);
        } else {
            EXPECT_TRUE(op.shown.empty()) << op.texts().join(" | ").toStdString();
            EXPECT_EQ(dir.read("config.txt"), WriteChannelConfigText(edited));
            EXPECT_FALSE(window->isVisible());
            EXPECT_EQ(mainShown, 1);
        }
    }
}

TEST_F(ConfigWTest, OkBuildsTitlesBeforeShowingTheMainWindow) {
    Load();
    store.setTag(2, "Débit9");
    store.setTag(0, "Cuve");
    window->Commande1_Click();
    ASSERT_EQ(mainShown, 1);
    EXPECT_EQ(titlesAtHandOver[0], "Cuve");
    EXPECT_EQ(titlesAtHandOver[1], "Débit1\r\nVolume Journalier\r\nVolume Cumulé")
        << "a flow meter's title, selected or not";
    EXPECT_EQ(titlesAtHandOver[2], "Débit9\r\nVolume Journalier\r\nVolume Cumulé");
    EXPECT_EQ(titlesAtHandOver[3], "");
    EXPECT_FALSE(window->isVisible());
}

// Enter is OK and Escape is ABANDON; an address being typed is checked first, as a click on
// OK would check it.
TEST_F(ConfigWTest, EnterIsOkOnceTheAddressIsCheckedAndEscapeIsAbandon) {
    Load();
    QApplication::setActiveWindow(window.get());
    window->AdresseStation[0]->setFocus();
    window->AdresseStation[0]->setText("15");
    store.setAddress(0, "15");
    test::PressKey(window->AdresseStation[0], Qt::Key_Return);
    ASSERT_EQ(op.texts(), QStringList{"Erreur d'adresse"});
    EXPECT_EQ(mainShown, 0);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->focusWidget(), window->AdresseStation[0]);

    window->AdresseStation[0]->setText("6");
    store.setAddress(0, "6");
    test::PressKey(window->AdresseStation[0], Qt::Key_Enter);
    EXPECT_EQ(mainShown, 1);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(dir.read("config.txt").contains("\"6\"")) << dir.read("config.txt").toStdString();

    window->show();
    store.setTag(2, "Oublié");
    test::PressKey(window->Texte2[2], Qt::Key_Escape);
    EXPECT_EQ(mainShown, 2);
    EXPECT_EQ(store.Record(2).Tag, "Sortie, eau") << "abandoned: back to the file";
}

TEST_F(ConfigWTest, FailedSaveIsReportedAndTheDialogStaysOpen) {
    Load();
    ASSERT_TRUE(QFile::remove(dir.filePath("config.txt")));
    ASSERT_TRUE(QDir(dir.path()).mkdir("config.txt"));
    store.setTag(0, "Nouveau");
    window->Commande1_Click();
    ASSERT_EQ(op.shown.size(), 1u);
    EXPECT_TRUE(op.shown[0].text.contains("config.txt")) << op.shown[0].text.toStdString();
    EXPECT_EQ(op.shown[0].icon, OperatorIcon::Exclamation);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(mainShown, 0);
    EXPECT_EQ(store.ChannelTitle(0), "") << "titles are built only after a save";
}

TEST_F(ConfigWTest, AbandonRestoresEveryRowFromTheFile) {
    Load();
    const ChannelRecords fromFile = store.Records();
    window->Etiquette1_Click(0);
    window->Etiquette1_Click(1);
    window->ListeTypeMesure[1]->activated(4);
    window->AdresseStation[1]->setText("9");
    store.setAddress(1, "9");
    store.setTag(2, "changé");
    window->Option[2][0]->click();
    ExpectLook(0, false);
    ExpectLook(1, true);

    window->Commande2_Click();
    EXPECT_EQ(store.Records(), fromFile);
    EXPECT_TRUE(op.shown.empty());
    ExpectLook(0, true);
    ExpectLook(1, false);
    EXPECT_EQ(window->AdresseStation[1]->text(), "4");
    EXPECT_EQ(window->ListeTypeMesure[1]->currentText(), "Débit");
    EXPECT_EQ(window->Texte2[2]->text(), "Sortie, eau");
    EXPECT_TRUE(window->Option[2][1]->isChecked());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(mainShown, 1);
    EXPECT_EQ(titlesAtHandOver[1], "Débit1\r\nVolume Journalier\r\nVolume Cumulé");
}

TEST_F(ConfigWTest, CloseBoxActsAsAbandon) {
    Load();
    store.setTag(0, "édité");
    EXPECT_FALSE(window->close());
    EXPECT_EQ(store.Record(0).Tag, "Bassin");
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(mainShown, 1);
    EXPECT_NE(window.get(), nullptr);
}

}  // namespace
}  // namespace merival
