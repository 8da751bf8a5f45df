#pragma once
// An off-screen picture holder of the main window (picSS, Creator): a widget placed below the
// visible client area that holds a Picture by reference. Replacing the picture releases this
// holder's reference only; the pixels live on while another holder shares them.

#include "Picture.h"

#include <QWidget>

namespace ui {

class PictureBox : public QWidget
{
public:
    explicit PictureBox(QWidget *parent = nullptr) : QWidget(parent) {}

    const imaging::Picture &picture() const { return m_picture; }
    void setPicture(const imaging::Picture &picture) { m_picture = picture; }

private:
    imaging::Picture m_picture;
};

} // namespace ui
