#include "platform/graphics/Geometry.h"

#include <algorithm>
#include <cstdio>

namespace platform {

namespace {

std::string number(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

}  // namespace

Rect Rect::integral() const {
    if (isNull()) {
        return *this;
    }
    double x0 = std::floor(minX());
    double y0 = std::floor(minY());
    return {x0, y0, std::ceil(maxX()) - x0, std::ceil(maxY()) - y0};
}

Rect Rect::insetBy(double dx, double dy) const {
    if (isNull()) {
        return *this;
    }
    Rect r{minX() + dx, minY() + dy, width() - 2 * dx, height() - 2 * dy};
    if (r.size.width < 0 || r.size.height < 0) {
        return null();
    }
    return r;
}

Rect Rect::intersection(const Rect& other) const {
    if (isNull() || other.isNull()) {
        return null();
    }
    double x0 = std::max(minX(), other.minX());
    double y0 = std::max(minY(), other.minY());
    double x1 = std::min(maxX(), other.maxX());
    double y1 = std::min(maxY(), other.maxY());
    if (x1 < x0 || y1 < y0) {
        return null();
    }
    return {x0, y0, x1 - x0, y1 - y0};
}

Rect Rect::unionWith(const Rect& other) const {
    if (isNull()) {
        return other.standardized();
    }
    if (other.isNull()) {
        return standardized();
    }
    double x0 = std::min(minX(), other.minX());
    double y0 = std::min(minY(), other.minY());
    double x1 = std::max(maxX(), other.maxX());
    double y1 = std::max(maxY(), other.maxY());
    return {x0, y0, x1 - x0, y1 - y0};
}

std::string Rect::description() const {
    return "{{" + number(origin.x) + ", " + number(origin.y) + "}, {" + number(size.width) + ", " +
           number(size.height) + "}}";
}

AffineTransform AffineTransform::rotation(double radians) {
    double s = std::sin(radians);
    double co = std::cos(radians);
    return {co, s, -s, co, 0, 0};
}

AffineTransform AffineTransform::concat(const AffineTransform& t) const {
    return {a * t.a + b * t.c, a * t.b + b * t.d,          c * t.a + d * t.c,
            c * t.b + d * t.d, tx * t.a + ty * t.c + t.tx, tx * t.b + ty * t.d + t.ty};
}

AffineTransform AffineTransform::inverted() const {
    double det = a * d - b * c;
    if (det == 0) {
        return *this;
    }
    return {d / det, -b / det, -c / det, a / det, (c * ty - d * tx) / det, (b * tx - a * ty) / det};
}

Rect AffineTransform::apply(const Rect& r) const {
    if (r.isNull()) {
        return r;
    }
    Point p[4] = {apply(Point{r.minX(), r.minY()}), apply(Point{r.maxX(), r.minY()}),
                  apply(Point{r.minX(), r.maxY()}), apply(Point{r.maxX(), r.maxY()})};
    double x0 = p[0].x, x1 = p[0].x, y0 = p[0].y, y1 = p[0].y;
    for (const Point& q : p) {
        x0 = std::min(x0, q.x);
        x1 = std::max(x1, q.x);
        y0 = std::min(y0, q.y);
        y1 = std::max(y1, q.y);
    }
    return {x0, y0, x1 - x0, y1 - y0};
}

Value toValue(const Rect& r) {
    return Map{
        {"x", r.origin.x}, {"y", r.origin.y}, {"width", r.size.width}, {"height", r.size.height}};
}

Value toValue(Point p) {
    return Map{{"x", p.x}, {"y", p.y}};
}

Rect rectFromValue(const Value& v) {
    if (!v.isMap()) {
        return {};
    }
    return {v["x"].doubleValue(), v["y"].doubleValue(), v["width"].doubleValue(),
            v["height"].doubleValue()};
}

Point pointFromValue(const Value& v) {
    if (!v.isMap()) {
        return {};
    }
    return {v["x"].doubleValue(), v["y"].doubleValue()};
}

}  // namespace platform
