#pragma once
#include <QStringList>
#include <QtTest>

#include "ui/CellForm.h"
#include "ui/cell_painter.h"
#include "ui/drawing_panel.h"
#include "ui/statistics_chart.h"

// A shown window whose error messages are collected instead of being shown
// in a modal box.
struct TestWindow {
    TestWindow()
    {
        form.SetMessageSink([this](const QString& message) { messages << message; });
        form.show();
    }

    template <typename Widget>
    Widget* get(const char* name)
    {
        auto* widget = form.findChild<Widget*>(name);
        if (!widget) qFatal("no control %s", name);
        return widget;
    }

    Run& run() { return form.simulation().run; }
    QRgb cellPixel(int x, int y) const { return form.layers().CellLayer().pixel(x, y); }
    QRgb agentPixel(int x, int y) const { return form.layers().AgentLayer().pixel(x, y); }

    // Every pixel of the cell's square on the cell layer has the colour.
    bool squareIs(const TCell& cell, QRgb color) const
    {
        for (int y = cell.PositionY - cell.Size; y < cell.PositionY + cell.Size; ++y)
            for (int x = cell.PositionX - cell.Size; x < cell.PositionX + cell.Size; ++x)
                if (cellPixel(x, y) != color) return false;
        return true;
    }

    TForm1 form;
    QStringList messages;
};
