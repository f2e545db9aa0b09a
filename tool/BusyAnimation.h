// The busy animation under the tree: frames 0 to 10 played in a loop while
// any processor is busy.
#pragma once

#include <QTimer>
#include <QWidget>

class CBusyAnimation : public QWidget {
    Q_OBJECT
  public:
    explicit CBusyAnimation(QWidget* parent = nullptr);
    // Plays frames first to last, `repeat` times.
    void Play(int first, int last, int repeat);
    void Stop();
    bool IsPlaying() const { return timer_.isActive(); }
    int Frame() const { return frame_; }
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void Step();

    QTimer timer_;
    int first_ = 0;
    int last_ = 10;
    int frame_ = 0;
    int repeatsLeft_ = 0;
};
