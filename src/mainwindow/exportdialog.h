// The export dialog: column separator, file name and folder, and the buttons that browse for
// a folder, export and close. The window connects to the buttons.
#pragma once

#include "widgets/customdialog.h"

class CustomComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class ExportDialog : public CustomDialog
{
    Q_OBJECT
public:
    explicit ExportDialog(QWidget *parent = nullptr);

    CustomComboBox *separatorCombo = nullptr;
    QLineEdit *fileNameEdit = nullptr;
    QLabel *exportPathLabel = nullptr;
    QPushButton *browseButton = nullptr;
    QPushButton *exportFileButton = nullptr;
};
