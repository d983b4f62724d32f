// Elevation labels drawn with Pango and cairo, for pictures made without a
// window. Anti-aliasing is off, so every inked pixel is the ink colour.
#ifndef TARVEN_TEXTLABELS_H
#define TARVEN_TEXTLABELS_H

#include <map>
#include <string>

#include "hxpicture.h"

// The font the command-line renderer writes labels with.
constexpr const char* kLabelFontName = "DejaVu Sans 9";

class PangoLabelFont : public hxpic::LabelFont {
public:
    explicit PangoLabelFont(const std::string& fontName = kLabelFontName);
    const hxpic::Label& label(int value) override;
    hxpic::Pixel ink() const override { return hxpic::kBlack; }

private:
    std::string font;
    std::map<int, hxpic::Label> made;
};

// The text's extent and inked pixels as `font` draws it, the ink relative
// to the text's top-left corner.
hxpic::Label makeLabel(const std::string& text, const std::string& font);

#endif
