#pragma once

#include <string>

namespace tarpelix::platform {

// The weights a font is asked for. Our faces have two: up to medium the book face, from
// semibold the bold face.
enum class FontWeight { ultraLight, thin, light, regular, medium, semibold, bold, heavy, black };

// A font of the toolkit: DejaVu Sans for the system font (also for monospaced digits: its
// digits share one width) and DejaVu Sans Mono for the monospaced font. Sizes are points.
class Font {
public:
    enum class Design { system, monospaced, monospacedDigit };

    static Font systemFont(double size, FontWeight weight = FontWeight::regular);
    static Font boldSystemFont(double size) { return systemFont(size, FontWeight::bold); }
    static Font monospacedSystemFont(double size, FontWeight weight = FontWeight::regular);
    static Font monospacedDigitSystemFont(double size, FontWeight weight = FontWeight::regular);

    double pointSize() const { return size_; }
    FontWeight weight() const { return weight_; }
    Design design() const { return design_; }
    // The family the font is drawn with: "DejaVu Sans" or "DejaVu Sans Mono".
    std::string familyName() const;
    bool usesBoldFace() const { return weight_ >= FontWeight::semibold; }
    // The same font at another size.
    Font withSize(double size) const;

    // Metrics from the font file, in points: the ascender (up from the baseline), the descender
    // (negative, down), the default line height and the height of capital letters.
    double ascender() const;
    double descender() const;
    double lineHeight() const;
    double capHeight() const;
    // The font file fontconfig loaded for this font.
    std::string fileName() const;

    bool operator==(const Font&) const = default;

private:
    Font(double size, FontWeight weight, Design design) : size_(size), weight_(weight), design_(design) {}
    double size_ = 13;
    FontWeight weight_ = FontWeight::regular;
    Design design_ = Design::system;
};

} // namespace tarpelix::platform
