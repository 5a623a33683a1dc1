#pragma once
// The station's main window. One class; its member functions live in one file
// per concern (layout, start-up, ...), as the folder shows.
#include <QMainWindow>

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Start-up sequence; runs once from the constructor. An exception in a step
    // is shown in the error box and skips the remaining steps.
    void FormCreate();

private:
    // form1_layout.cpp
    void build_layout();

    // startup.cpp
    void form_create_steps();
};

// The application-wide font setup: the Kai face named by the form maps to the
// installed Kai font, other Chinese text falls back to a Hei face.
void install_font_substitutions();
