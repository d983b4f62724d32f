// Elevation labels drawn with Pango and cairo, for pictures made without a
// window. Anti-aliasing is off, so every inked pixel is the ink colour.
#ifndef TARVEN_TEXTLABELS_H
#define TARVEN_TEXTLABELS_H

#include <map>
#include <memory>
#include <string>

#include "hxpicture.h"

// The font the command-line renderer writes labels with.
constexpr const char* kLabelFontName = "DejaVu Sans 9";

// Labels are made once per value, through a font map of the object's own
// that goes with it.
class PangoLabelFont : public hxpic::LabelFont {
public:
    explicit PangoLabelFont(const std::string& fontName = kLabelFontName);
    ~PangoLabelFont() override;
    PangoLabelFont(const PangoLabelFont&) = delete;
    PangoLabelFont& operator=(const PangoLabelFont&) = delete;

    const hxpic::Label& label(int value) override;
    hxpic::Pixel ink() const override { return hxpic::kBlack; }

    // The text's extent and inked pixels, the ink relative to the text's
    // top-left corner.
    hxpic::Label make(const std::string& text);

private:
    std::string font;
    void* fontMap;   // PangoFontMap, kept out of this header
    std::map<int, hxpic::Label> made;
};

#endif
