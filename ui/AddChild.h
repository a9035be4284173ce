#pragma once

#include <QLatin1String>
#include <QWidget>

// Creates a form widget the way the windows lay out theirs: named and at a fixed place.
template <typename T> T* addChild(QWidget* parent, const char* objectName, int x, int y, int w, int h)
{
    auto* child = new T(parent);
    child->setObjectName(QLatin1String(objectName));
    child->setGeometry(x, y, w, h);
    return child;
}
