"""Draws the launcher's artwork: the splash (PNG 131), the empty progress bar (PNG 135) and the
icon. Run with Debian's python3 and python3-pil; the output is committed beside this script.

    /usr/bin/python3 res/make_artwork.py
"""
import math
import os
import random

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
CJK = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"
SERIF_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf"
SANS_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
W, H = 935, 636
SS = 2  # drawn at twice the size, then reduced, for smooth edges

ADVISORY = ["抵制不良游戏，拒绝盗版游戏。注意自我保护，谨防受骗上当。",
            "适度游戏益脑，沉迷游戏伤身。合理安排时间，享受健康生活。"]


def outline():
    """The panel's irregular outline: bevelled corners, a crest for the logo, side notches."""
    pts = [
        (60, 150), (120, 96), (300, 96), (340, 60), (400, 44), (467, 12), (535, 44), (595, 60),
        (635, 96), (815, 96), (875, 150), (875, 300), (895, 320), (875, 340), (875, 566),
        (830, 612), (560, 612), (520, 630), (415, 630), (375, 612), (105, 612), (60, 566),
        (60, 340), (40, 320), (60, 300),
    ]
    return [(x * SS, y * SS) for x, y in pts]


def vertical_gradient(size, stops):
    w, h = size
    img = Image.new("RGB", size)
    px = img.load()
    for y in range(h):
        t = y / (h - 1)
        for i in range(len(stops) - 1):
            (t0, c0), (t1, c1) = stops[i], stops[i + 1]
            if t0 <= t <= t1:
                f = (t - t0) / (t1 - t0)
                c = tuple(int(c0[k] + (c1[k] - c0[k]) * f) for k in range(3))
                break
        for x in range(w):
            px[x, y] = c
    return img


def splash():
    size = (W * SS, H * SS)
    mask = Image.new("L", size, 0)
    ImageDraw.Draw(mask).polygon(outline(), fill=255)

    body = vertical_gradient(size, [(0.0, (36, 10, 66)), (0.35, (88, 30, 140)),
                                    (0.7, (58, 18, 104)), (1.0, (26, 8, 48))])
    # A soft glow behind the logo, and light rays from it.
    glow = Image.new("L", size, 0)
    gd = ImageDraw.Draw(glow)
    cx, cy = W * SS // 2, 215 * SS
    for r in range(300 * SS, 0, -6 * SS):
        gd.ellipse([cx - r * 1.4, cy - r * 0.75, cx + r * 1.4, cy + r * 0.75],
                   fill=int(150 * (1 - r / (300 * SS)) ** 2))
    rays = Image.new("L", size, 0)
    rd = ImageDraw.Draw(rays)
    for k in range(18):
        a = math.pi * (k / 18.0) + 0.08
        rd.polygon([(cx, cy), (cx + math.cos(a) * 1400, cy + math.sin(a) * 900),
                    (cx + math.cos(a + 0.05) * 1400, cy + math.sin(a + 0.05) * 900)], fill=28)
        rd.polygon([(cx, cy), (cx - math.cos(a) * 1400, cy - math.sin(a) * 900),
                    (cx - math.cos(a + 0.05) * 1400, cy - math.sin(a + 0.05) * 900)], fill=28)
    rays = rays.filter(ImageFilter.GaussianBlur(6 * SS))
    light = ImageChops.add(glow.filter(ImageFilter.GaussianBlur(20 * SS)), rays)
    body = Image.composite(Image.new("RGB", size, (214, 150, 255)), body, light)

    # Stars.
    rnd = random.Random(3)
    d = ImageDraw.Draw(body)
    for _ in range(160):
        x, y = rnd.randrange(size[0]), rnd.randrange(size[1])
        r = rnd.choice([1, 1, 1, 2, 2, 3]) * SS
        v = rnd.randint(150, 255)
        d.ellipse([x - r, y - r, x + r, y + r], fill=(v, v - 20, 255))
    for _ in range(14):
        x, y = rnd.randrange(80, W - 80) * SS, rnd.randrange(60, 460) * SS
        s = rnd.randint(6, 12) * SS
        d.polygon([(x, y - s), (x + s // 4, y), (x, y + s), (x - s // 4, y)], fill=(255, 240, 210))
        d.polygon([(x - s, y), (x, y + s // 4), (x + s, y), (x, y - s // 4)], fill=(255, 240, 210))

    # The slot the progress bar sits in, and the advisory's band.
    d.rounded_rectangle([100 * SS, 474 * SS, 835 * SS, 534 * SS], radius=14 * SS, fill=(24, 6, 44),
                        outline=(190, 140, 60), width=2 * SS)
    d.rectangle([90 * SS, 548 * SS, 845 * SS, 604 * SS], fill=(30, 8, 54))

    img = Image.new("RGBA", size, (0, 0, 0, 0))
    img.paste(body, (0, 0), mask)

    # Gold frame along the outline, doubled.
    frame = ImageDraw.Draw(img)
    pts = outline()
    frame.line(pts + [pts[0]], fill=(222, 170, 72, 255), width=7 * SS, joint="curve")
    inner = [(cx + (x - cx) * 0.975, 320 * SS + (y - 320 * SS) * 0.96) for x, y in pts]
    frame.line(inner + [inner[0]], fill=(255, 224, 150, 255), width=2 * SS, joint="curve")

    # The title logo: gold letters with a dark outline and a warm glow.
    title_font = ImageFont.truetype(SERIF_BOLD, 118 * SS)
    text = "VANTREL"
    tw = frame.textlength(text, font=title_font)
    tx, ty = (size[0] - tw) / 2, 150 * SS
    shadow = Image.new("L", size, 0)
    ImageDraw.Draw(shadow).text((tx, ty), text, font=title_font, fill=255, stroke_width=10 * SS,
                                stroke_fill=255)
    img.paste((255, 170, 60, 255), (0, 0), shadow.filter(ImageFilter.GaussianBlur(14 * SS)).point(lambda v: v * 0.7))
    letters = Image.new("L", size, 0)
    ImageDraw.Draw(letters).text((tx, ty), text, font=title_font, fill=255)
    edge = Image.new("L", size, 0)
    ImageDraw.Draw(edge).text((tx, ty), text, font=title_font, fill=255, stroke_width=5 * SS,
                              stroke_fill=255)
    img.paste((46, 10, 70, 255), (0, 0), edge)
    gold = vertical_gradient(size, [(0.0, (255, 250, 210)), (0.30, (255, 236, 160)),
                                    (0.36, (236, 176, 64)), (0.42, (168, 104, 30)),
                                    (1.0, (120, 70, 20))])
    img.paste(gold, (0, 0), letters)

    # Subtitle between two ornaments.
    sub_font = ImageFont.truetype(SANS_BOLD, 26 * SS)
    sub = "Q U E N B Y   ·   S K I R M O R A"
    sw = frame.textlength(sub, font=sub_font)
    sy = 300 * SS
    frame.text(((size[0] - sw) / 2, sy), sub, font=sub_font, fill=(240, 220, 255, 255))
    for side in (-1, 1):
        x0 = size[0] / 2 + side * (sw / 2 + 20 * SS)
        x1 = size[0] / 2 + side * (sw / 2 + 150 * SS)
        yy = sy + 17 * SS
        frame.line([(x0, yy), (x1, yy)], fill=(222, 170, 72, 255), width=3 * SS)
        frame.polygon([(x0, yy - 8 * SS), (x0 + side * 8 * SS, yy), (x0, yy + 8 * SS),
                       (x0 - side * 8 * SS, yy)], fill=(255, 224, 150, 255))
    cn_font = ImageFont.truetype(CJK, 30 * SS)
    cn = "星 域 远 征"
    cw = frame.textlength(cn, font=cn_font)
    frame.text(((size[0] - cw) / 2, 350 * SS), cn, font=cn_font, fill=(255, 214, 120, 255))

    # The healthy-gaming advisory near the bottom.
    adv_font = ImageFont.truetype(CJK, 17 * SS)
    for i, line in enumerate(ADVISORY):
        lw = frame.textlength(line, font=adv_font)
        frame.text(((size[0] - lw) / 2, (554 + i * 25) * SS), line, font=adv_font,
                   fill=(232, 220, 245, 255))

    img = img.resize((W, H), Image.LANCZOS)
    # Outside the outline stays fully transparent after the reduction.
    small_mask = mask.resize((W, H), Image.LANCZOS)
    alpha = ImageChops.lighter(img.getchannel("A"), Image.new("L", (W, H), 0))
    alpha = Image.composite(alpha, Image.new("L", (W, H), 0), small_mask.point(lambda v: 255 if v else 0))
    img.putalpha(alpha)
    return img


def progress_bar():
    img = Image.new("RGB", (662, 28), (0, 0, 0))
    ImageDraw.Draw(img).rectangle([3, 3, 658, 24], fill=(255, 255, 255))
    return img


def icon():
    s = 256 * 4
    img = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    mask = Image.new("L", (s, s), 0)
    md = ImageDraw.Draw(mask)
    md.polygon([(s * 0.5, s * 0.03), (s * 0.93, s * 0.2), (s * 0.87, s * 0.66), (s * 0.5, s * 0.97),
                (s * 0.13, s * 0.66), (s * 0.07, s * 0.2)], fill=255)
    body = vertical_gradient((s, s), [(0.0, (110, 44, 170)), (1.0, (30, 8, 56))])
    img.paste(body, (0, 0), mask)
    d = ImageDraw.Draw(img)
    pts = [(s * 0.5, s * 0.03), (s * 0.93, s * 0.2), (s * 0.87, s * 0.66), (s * 0.5, s * 0.97),
           (s * 0.13, s * 0.66), (s * 0.07, s * 0.2)]
    d.line(pts + [pts[0]], fill=(232, 180, 80, 255), width=s // 22, joint="curve")
    font = ImageFont.truetype(SERIF_BOLD, int(s * 0.62))
    tw = d.textlength("V", font=font)
    d.text(((s - tw) / 2, s * 0.12), "V", font=font, fill=(255, 222, 130, 255),
           stroke_width=s // 60, stroke_fill=(60, 16, 80, 255))
    return img.resize((256, 256), Image.LANCZOS)


def main():
    splash().save(os.path.join(HERE, "splash.png"), optimize=True)
    progress_bar().save(os.path.join(HERE, "progress-bar.png"))
    sizes = [32, 40, 48, 64, 96, 128, 256]
    icon().save(os.path.join(HERE, "launcher.ico"), sizes=[(n, n) for n in sizes])


if __name__ == "__main__":
    main()
