// The tool's manual in a help window: one HTML file whose topics are its
// second-level headings, each carrying an anchor. Previous and Next topic
// step through them in the file's order.
#pragma once

#include <QDialog>
#include <QStringList>

class QPushButton;
class QTextBrowser;

// The anchors of the topics of a manual, in order: <h2><a name="...">.
QStringList HelpTopicsOf(const QString& html);
// The anchor of a help context id; empty when the manual has no such topic.
QString HelpTopicOfContext(int contextId);

class CHelpWindow : public QDialog {
    Q_OBJECT
  public:
    explicit CHelpWindow(QWidget* parent = nullptr);
    // Opens the file at the topic of the context id.
    void Open(const QString& file, int contextId);
    QString CurrentTopic() const;
    QStringList Topics() const { return topics_; }
    QString File() const { return file_; }

  private:
    void ShowTopic(int index);
    void Step(int delta);

    QTextBrowser* browser_ = nullptr;
    QPushButton* previous_ = nullptr;
    QPushButton* next_ = nullptr;
    QString file_;
    QStringList topics_;
    int topic_ = -1;
};
