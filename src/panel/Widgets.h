#pragma once
// The kinds of control the window is built from, where a plain Qt widget does not
// behave as the panel needs.

#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QValidator>

// A push button whose face is painted in its back colour whatever the platform
// style (unless it is a standard-style button). Enter clicks it as Space does.
// An auto-repeat key reports mouseDown/mouseUp for any mouse button and has no
// click action; Space or Enter held on it acts as a mouse button held (down on the
// press, up on the release; the keyboard's own repeats are ignored). A button that
// takes no focus takes no keys either.
class PanelButton final : public QPushButton {
    Q_OBJECT
public:
    explicit PanelButton(const QString &caption, QWidget *parent = nullptr);

    void setFaceColour(const QColor &colour) { m_face = colour; update(); }
    // The caption's colour on a painted face, whatever the desktop's palette.
    void setCaptionColour(const QColor &colour) { m_captionColour = colour; update(); }
    // The font the caption is drawn in: the button's font, made smaller where the
    // caption would not fit whole on the face.
    QFont captionFont() const;
    void setPressRelease(bool on) { m_pressRelease = on; }
    bool isPressRelease() const { return m_pressRelease; }
    // True between mouseDown and mouseUp of an auto-repeat key.
    bool isHeld() const { return m_held; }
    // Ends a hold whose release will never come (lost grab, window deactivated);
    // emits mouseUp as a release would.
    void cancelHold();

signals:
    void mouseDown();
    void mouseUp();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    QColor m_face;  // invalid: a standard-style button in the system colours
    QColor m_captionColour = Qt::black;
    // The last fitted caption font and what it was fitted for.
    mutable QFont m_fittedFont;
    mutable QString m_fittedText;
    mutable QSize m_fittedSize;
    mutable QFont m_fittedFrom;
    bool m_pressRelease = false;
    bool m_held = false;
    int m_heldByKey = 0;  // the key holding it down; 0 for the mouse
};

// A label whose caption can be any length: the whole text is kept and read back,
// only the part that can show is laid out, so a long trace costs no layout work.
class PanelLabel final : public QLabel {
    Q_OBJECT
public:
    explicit PanelLabel(const QString &caption, QWidget *parent = nullptr);
    void setCaption(const QString &caption);
    const QString &caption() const { return m_caption; }

    static constexpr qsizetype kShownChars = 160;

    // A display line (TXD, RXD, status): screen readers read its text as the
    // description and value, beside its fixed name, and hear of every change.
    void setReadByScreenReaders(bool on) { m_readByScreenReaders = on; }
    bool isReadByScreenReaders() const { return m_readByScreenReaders; }
    // The colour of the single border, whatever the text colour.
    void setBorderColour(const QColor &colour) { m_borderColour = colour; update(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_caption;
    QColor m_borderColour;  // invalid: drawn by the frame in the text colour
    bool m_readByScreenReaders = false;
};

// The word-mark picture, shown pixel for pixel; reports double-clicks.
class WordMarkImage final : public QWidget {
    Q_OBJECT
public:
    explicit WordMarkImage(QWidget *parent = nullptr);
    const QImage &picture() const { return m_picture; }

signals:
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    QImage m_picture;
};

// The command box's rule: one line of printable ASCII. Of a text put in with a
// line break (a paste of several lines) only its first line is taken; a text that
// holds any other character the projector cannot take (a tab, a control character,
// anything outside ASCII) is refused as a whole, and the box keeps what it had.
class CommandTextValidator final : public QValidator {
    Q_OBJECT
public:
    using QValidator::QValidator;
    State validate(QString &input, int &pos) const override;
};

// The 80 x 26 word mark: red "ORVA" on a grey ground.
QImage wordMarkPicture();
