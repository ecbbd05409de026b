#include "ui/picture.h"

namespace sw {

void replay(const std::vector<DrawOp>& ops, Canvas& canvas) {
    for (const DrawOp& op : ops) {
        const Rect& r = op.rect;
        switch (op.kind) {
            case DrawOp::FillRect:
                canvas.fill_rect(r, op.paint);
                break;
            case DrawOp::FillRounded:
                canvas.fill_rounded(r, op.radius, op.paint);
                break;
            case DrawOp::StrokeRounded:
                canvas.stroke_rounded(r, op.radius, op.paint, op.width);
                break;
            case DrawOp::Line:
                canvas.line(r.x, r.y, r.x + r.w, r.y + r.h, op.paint, op.width);
                break;
            case DrawOp::FillEllipse:
                canvas.fill_ellipse(r.x + r.w / 2, r.y + r.h / 2, r.w / 2, r.h / 2, op.paint);
                break;
            case DrawOp::StrokeEllipse:
                canvas.stroke_ellipse(r.x + r.w / 2, r.y + r.h / 2, r.w / 2, r.h / 2, op.paint,
                                      op.width);
                break;
            case DrawOp::Text:
                canvas.text(op.text, r, op.style, op.paint, op.horizontal, op.vertical);
                break;
            case DrawOp::Icon:
                canvas.icon(r, op.paint.opacity);
                break;
            case DrawOp::PushClip:
                canvas.push_clip(r);
                break;
            case DrawOp::PopClip:
                canvas.pop_clip();
                break;
        }
    }
}

void PictureCanvas::fill_rect(const Rect& r, Paint paint) {
    DrawOp op;
    op.kind = DrawOp::FillRect;
    op.rect = r;
    op.paint = paint;
    ops_.push_back(op);
}

void PictureCanvas::fill_rounded(const Rect& r, float radius, Paint paint) {
    DrawOp op;
    op.kind = DrawOp::FillRounded;
    op.rect = r;
    op.paint = paint;
    op.radius = radius;
    ops_.push_back(op);
}

void PictureCanvas::stroke_rounded(const Rect& r, float radius, Paint paint, float width) {
    DrawOp op;
    op.kind = DrawOp::StrokeRounded;
    op.rect = r;
    op.paint = paint;
    op.radius = radius;
    op.width = width;
    ops_.push_back(op);
}

void PictureCanvas::line(float x0, float y0, float x1, float y1, Paint paint, float width) {
    DrawOp op;
    op.kind = DrawOp::Line;
    op.rect = Rect{x0, y0, x1 - x0, y1 - y0};
    op.paint = paint;
    op.width = width;
    ops_.push_back(op);
}

void PictureCanvas::fill_ellipse(float cx, float cy, float rx, float ry, Paint paint) {
    DrawOp op;
    op.kind = DrawOp::FillEllipse;
    op.rect = Rect{cx - rx, cy - ry, 2 * rx, 2 * ry};
    op.paint = paint;
    ops_.push_back(op);
}

void PictureCanvas::stroke_ellipse(float cx, float cy, float rx, float ry, Paint paint,
                                   float width) {
    DrawOp op;
    op.kind = DrawOp::StrokeEllipse;
    op.rect = Rect{cx - rx, cy - ry, 2 * rx, 2 * ry};
    op.paint = paint;
    op.width = width;
    ops_.push_back(op);
}

void PictureCanvas::text(std::string_view utf8, const Rect& box, const TextStyle& style,
                         Paint paint, Align horizontal, Align vertical) {
    DrawOp op;
    op.kind = DrawOp::Text;
    op.rect = box;
    op.paint = paint;
    op.text = std::string(utf8);
    op.style = style;
    op.horizontal = horizontal;
    op.vertical = vertical;
    ops_.push_back(op);
}

void PictureCanvas::icon(const Rect& r, float opacity) {
    DrawOp op;
    op.kind = DrawOp::Icon;
    op.rect = r;
    op.paint = Paint{Slot::Background, opacity};
    ops_.push_back(op);
}

void PictureCanvas::push_clip(const Rect& r) {
    DrawOp op;
    op.kind = DrawOp::PushClip;
    op.rect = r;
    ops_.push_back(op);
}

void PictureCanvas::pop_clip() {
    DrawOp op;
    op.kind = DrawOp::PopClip;
    ops_.push_back(op);
}

void KeepingCanvas::fill_rect(const Rect& r, Paint paint) {
    inner_.fill_rect(r, paint);
    PictureCanvas::fill_rect(r, paint);
}

void KeepingCanvas::fill_rounded(const Rect& r, float radius, Paint paint) {
    inner_.fill_rounded(r, radius, paint);
    PictureCanvas::fill_rounded(r, radius, paint);
}

void KeepingCanvas::stroke_rounded(const Rect& r, float radius, Paint paint, float width) {
    inner_.stroke_rounded(r, radius, paint, width);
    PictureCanvas::stroke_rounded(r, radius, paint, width);
}

void KeepingCanvas::line(float x0, float y0, float x1, float y1, Paint paint, float width) {
    inner_.line(x0, y0, x1, y1, paint, width);
    PictureCanvas::line(x0, y0, x1, y1, paint, width);
}

void KeepingCanvas::fill_ellipse(float cx, float cy, float rx, float ry, Paint paint) {
    inner_.fill_ellipse(cx, cy, rx, ry, paint);
    PictureCanvas::fill_ellipse(cx, cy, rx, ry, paint);
}

void KeepingCanvas::stroke_ellipse(float cx, float cy, float rx, float ry, Paint paint,
                                   float width) {
    inner_.stroke_ellipse(cx, cy, rx, ry, paint, width);
    PictureCanvas::stroke_ellipse(cx, cy, rx, ry, paint, width);
}

void KeepingCanvas::text(std::string_view utf8, const Rect& box, const TextStyle& style,
                         Paint paint, Align horizontal, Align vertical) {
    inner_.text(utf8, box, style, paint, horizontal, vertical);
    PictureCanvas::text(utf8, box, style, paint, horizontal, vertical);
}

TextExtent KeepingCanvas::measure(std::string_view utf8, const TextStyle& style, float max_width) {
    return inner_.measure(utf8, style, max_width);
}

void KeepingCanvas::icon(const Rect& r, float opacity) {
    inner_.icon(r, opacity);
    PictureCanvas::icon(r, opacity);
}

void KeepingCanvas::push_clip(const Rect& r) {
    inner_.push_clip(r);
    PictureCanvas::push_clip(r);
}

void KeepingCanvas::pop_clip() {
    inner_.pop_clip();
    PictureCanvas::pop_clip();
}

}  // namespace sw
