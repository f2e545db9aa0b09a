// The About box: the program's icon and "Gorlin Version 1.0".
#pragma once

#include <QDialog>

class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
