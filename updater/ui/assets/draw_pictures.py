#!/usr/bin/python3
"""Draws the launcher's pictures into this folder.

Run it by hand after changing a picture (Debian's python3-pil is needed); the PNG files
it writes are kept in the repository and built into the program, so the build itself
needs no Python.

    /usr/bin/python3 updater/ui/assets/draw_pictures.py

The two window backgrounds carry the key colour (magenta) in their top-left pixel and
everywhere outside the window's shape. Edges are drawn hard against the key colour: an
edge pixel blended with magenta would stay inside the shape as a pink fringe.
"""

import os
import random

from PIL import Image, ImageDraw, ImageFilter, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
FONTS = "/usr/share/fonts/truetype/dejavu/"
KEY = (255, 0, 255)
S = 4  # drawn this many times larger, then scaled down for smooth edges


def font(name, size):
    return ImageFont.truetype(FONTS + name, size * S)


def sc(*values):
    return [v * S for v in values]


def vertical_gradient(size, top, bottom):
    width, height = size
    column = Image.new("RGB", (1, height))
    for y in range(height):
        t = y / max(1, height - 1)
        column.putpixel((0, y), tuple(round(a + (b - a) * t) for a, b in zip(top, bottom)))
    return column.resize((width, height))


def radial_glow(size, centre, radius, colour, strength):
    """A soft round glow as an RGBA layer."""
    layer = Image.new("RGBA", size, (0, 0, 0, 0))
    draw = ImageDraw.Draw(layer)
    cx, cy = centre
    draw.ellipse((cx - radius, cy - radius, cx + radius, cy + radius), fill=colour + (strength,))
    return layer.filter(ImageFilter.GaussianBlur(radius / 2))


def text_centred(draw, centre, text, fnt, fill, shadow=None, spacing=0):
    """Text centred on centre; spacing adds room between the letters."""
    if spacing:
        widths = [draw.textlength(ch, font=fnt) for ch in text]
        total = sum(widths) + spacing * (len(text) - 1)
        x = centre[0] - total / 2
        for ch, w in zip(text, widths):
            text_centred(draw, (x + w / 2, centre[1]), ch, fnt, fill, shadow)
            x += w + spacing
        return
    if shadow:
        draw.text((centre[0] + S, centre[1] + S), text, font=fnt, fill=shadow, anchor="mm")
    draw.text(centre, text, font=fnt, fill=fill, anchor="mm")


def add_grain(image, seed, amount):
    """A little noise, so that the dark surfaces read as stone and not as flat paint."""
    rng = random.Random(seed)
    pixels = image.load()
    width, height = image.size
    for y in range(height):
        for x in range(width):
            r, g, b = pixels[x, y][:3]
            d = rng.randint(-amount, amount)
            pixels[x, y] = (max(0, min(255, r + d)), max(0, min(255, g + d)),
                            max(0, min(255, b + d)))


def cut_shape(content, mask):
    """The content where the mask is set, the key colour everywhere else."""
    small = content.resize((content.width // S, content.height // S), Image.LANCZOS)
    inside = mask.resize(small.size, Image.LANCZOS).point(lambda v: 255 if v >= 128 else 0)
    result = Image.new("RGB", small.size, KEY)
    result.paste(small, (0, 0), inside)
    # No pixel inside the shape may happen to be the key colour.
    pixels = result.load()
    inside_pixels = inside.load()
    for y in range(result.height):
        for x in range(result.width):
            if inside_pixels[x, y] and pixels[x, y] == KEY:
                pixels[x, y] = (254, 0, 255)
    assert result.getpixel((0, 0)) == KEY
    return result, inside


def crown_points(cx, base, height, half_width):
    """A five-pointed crown's outline, the middle point the highest."""
    w = half_width
    h = height
    return [
        (cx - w, base), (cx - w * 0.84, base - h * 0.72), (cx - w * 0.58, base - h * 0.38),
        (cx - w * 0.30, base - h * 0.86), (cx - w * 0.12, base - h * 0.46), (cx, base - h),
        (cx + w * 0.12, base - h * 0.46), (cx + w * 0.30, base - h * 0.86),
        (cx + w * 0.58, base - h * 0.38), (cx + w * 0.84, base - h * 0.72), (cx + w, base),
    ]


def draw_crown(draw, cx, base, height, half_width, fill, outline, gem):
    points = [(x * S, y * S) for x, y in crown_points(cx, base, height, half_width)]
    draw.polygon(points, fill=fill, outline=outline)
    draw.line(points + [points[0]], fill=outline, width=S, joint="curve")
    band = sc(cx - half_width, base - height * 0.16, cx + half_width, base + height * 0.14)
    draw.rectangle(band, fill=fill, outline=outline, width=S)
    for tip in (1, 3, 5, 7, 9):
        x, y = crown_points(cx, base, height, half_width)[tip]
        r = max(1.5, height * 0.07)
        draw.ellipse(sc(x - r, y - r, x + r, y + r), fill=fill, outline=outline, width=S)
    for dx in (-0.55, 0, 0.55):
        r = height * 0.08
        x = cx + half_width * dx
        y = base - height * 0.01
        draw.ellipse(sc(x - r, y - r, x + r, y + r), fill=gem, outline=outline)


def launcher_background():
    width, height = 955, 520
    size = (width * S, height * S)

    mask = Image.new("L", size, 0)
    shape = ImageDraw.Draw(mask)
    body = sc(8, 14, 947, 512)
    shape.rounded_rectangle(body, radius=26 * S, fill=255)
    shape.polygon([(x * S, y * S) for x, y in crown_points(795, 34, 33, 84)], fill=255)
    for tip in (1, 3, 5, 7, 9):
        x, y = crown_points(795, 34, 33, 84)[tip]
        shape.ellipse(sc(x - 3, y - 3, x + 3, y + 3), fill=255)

    content = vertical_gradient(size, (30, 29, 34), (15, 15, 19)).convert("RGBA")
    # The right column a shade warmer, with a glow behind the title and embers low down.
    column = Image.new("RGBA", size, (0, 0, 0, 0))
    ImageDraw.Draw(column).rounded_rectangle(sc(650, 30, 936, 497), radius=14 * S,
                                             fill=(60, 40, 28, 70))
    content.alpha_composite(column.filter(ImageFilter.GaussianBlur(6 * S)))
    content.alpha_composite(radial_glow(size, (795 * S, 80 * S), 110 * S, (190, 130, 60), 60))
    content.alpha_composite(radial_glow(size, (795 * S, 470 * S), 150 * S, (200, 70, 20), 55))
    content.alpha_composite(radial_glow(size, (330 * S, 560 * S), 300 * S, (120, 50, 20), 40))

    embers = Image.new("RGBA", size, (0, 0, 0, 0))
    ember_draw = ImageDraw.Draw(embers)
    rng = random.Random(7)
    for _ in range(70):
        x = rng.uniform(655, 930)
        y = rng.uniform(300, 500) if rng.random() < 0.7 else rng.uniform(40, 300)
        r = rng.uniform(0.6, 1.8)
        glow = rng.randint(90, 220)
        ember_draw.ellipse(sc(x - r, y - r, x + r, y + r), fill=(255, 150, 60, glow))
    content.alpha_composite(embers.filter(ImageFilter.GaussianBlur(S * 0.8)))
    content.alpha_composite(embers)

    draw = ImageDraw.Draw(content)

    # The news area: a recessed panel with a bronze rim; the page covers its inside once
    # it has loaded, until then a faint crest shows.
    draw.rounded_rectangle(sc(21, 24, 646, 497), radius=9 * S, fill=(8, 8, 11),
                           outline=(44, 34, 22), width=2 * S)
    draw.rounded_rectangle(sc(25, 28, 642, 493), radius=6 * S, fill=(11, 11, 15),
                           outline=(138, 104, 52), width=2 * S)
    draw_crown(draw, 333, 250, 90, 120, (22, 21, 26), (34, 32, 38), (40, 24, 22))
    text_centred(draw, (333 * S, 300 * S), "ASHEN CROWN", font("DejaVuSerif-Bold.ttf", 34),
                 (34, 32, 38), spacing=6 * S)
    for corner_x, corner_y in ((29, 32), (638, 32), (29, 489), (638, 489)):
        r = 4
        draw.polygon(sc(corner_x, corner_y - r, corner_x + r, corner_y, corner_x,
                        corner_y + r, corner_x - r, corner_y), fill=(214, 170, 92))

    # The title of the right column.
    text_centred(draw, (795 * S, 70 * S), "ASHEN CROWN", font("DejaVuSerif-Bold.ttf", 27),
                 (236, 198, 118), shadow=(10, 6, 4), spacing=2 * S)
    text_centred(draw, (795 * S, 100 * S), "DUSKMERE", font("DejaVuSans-Bold.ttf", 11),
                 (168, 140, 96), spacing=5 * S)
    draw.line(sc(712, 128, 778, 128), fill=(124, 94, 48), width=S)
    draw.line(sc(812, 128, 878, 128), fill=(124, 94, 48), width=S)
    draw.polygon(sc(795, 121, 802, 128, 795, 135, 788, 128), fill=(214, 170, 92))
    draw.polygon(sc(782, 128, 786, 124, 790, 128, 786, 132), fill=(150, 112, 56))
    draw.polygon(sc(800, 128, 804, 124, 808, 128, 804, 132), fill=(150, 112, 56))

    # Sockets for the two gauges.
    for top in (348, 391):
        draw.rectangle(sc(661, top - 2, 924, top + 18), fill=(6, 5, 5), outline=(110, 84, 46),
                       width=S)

    # The status line: black text on a parchment ribbon with notched ends.
    ribbon = sc(647, 409, 938, 409, 929, 422, 938, 435, 647, 435, 656, 422)
    draw.polygon(ribbon, fill=(226, 208, 166), outline=(120, 92, 52))
    paper = vertical_gradient((283 * S, 26 * S), (238, 224, 186), (210, 190, 144))
    paper_mask = Image.new("L", size, 0)
    ImageDraw.Draw(paper_mask).polygon(
        sc(649, 410, 935, 410, 927, 422, 935, 434, 649, 434, 657, 422), fill=255)
    layer = Image.new("RGBA", size, (0, 0, 0, 0))
    layer.paste(paper.convert("RGBA"), (651 * S, 409 * S))
    content.paste(layer, (0, 0), paper_mask)
    draw = ImageDraw.Draw(content)

    # The frame along the window's edge, and the crown that rises above it.
    draw.rounded_rectangle(sc(9.5, 15.5, 945.5, 510.5), radius=25 * S, outline=(150, 114, 58),
                           width=3 * S)
    draw.rounded_rectangle(sc(14, 20, 941, 506), radius=21 * S, outline=(58, 44, 28),
                           width=S)
    draw_crown(draw, 795, 34, 32, 83, (206, 160, 78), (92, 62, 24), (170, 40, 24))

    # Darker towards the corners.
    vignette = Image.new("L", size, 0)
    ImageDraw.Draw(vignette).rounded_rectangle(sc(60, 60, 895, 460), radius=80 * S, fill=255)
    vignette = vignette.filter(ImageFilter.GaussianBlur(60 * S))
    dark = Image.new("RGBA", size, (0, 0, 0, 90))
    dark.putalpha(vignette.point(lambda v: int(90 * (255 - v) / 255)))
    content.alpha_composite(dark)

    picture, inside = cut_shape(content.convert("RGB"), mask)
    add_grain(picture, 3, 3)
    # Grain must not touch the key colour around the shape.
    result = Image.new("RGB", picture.size, KEY)
    result.paste(picture, (0, 0), inside)
    return result


def options_background():
    width, height = 220, 300
    size = (width * S, height * S)

    mask = Image.new("L", size, 0)
    shape = ImageDraw.Draw(mask)
    shape.rounded_rectangle(sc(3, 12, 217, 297), radius=14 * S, fill=255)
    shape.polygon([(x * S, y * S) for x, y in crown_points(110, 20, 18, 30)], fill=255)
    for tip in (1, 3, 5, 7, 9):
        x, y = crown_points(110, 20, 18, 30)[tip]
        shape.ellipse(sc(x - 2, y - 2, x + 2, y + 2), fill=255)

    content = vertical_gradient(size, (24, 34, 66), (10, 15, 34)).convert("RGBA")
    content.alpha_composite(radial_glow(size, (110 * S, 40 * S), 90 * S, (70, 100, 170), 50))
    draw = ImageDraw.Draw(content)

    draw.rounded_rectangle(sc(4.5, 13.5, 215.5, 295.5), radius=13 * S, outline=(96, 120, 172),
                           width=2 * S)
    draw.rounded_rectangle(sc(8, 17, 212, 292), radius=10 * S, outline=(36, 50, 92), width=S)
    draw_crown(draw, 110, 20, 17, 29, (178, 190, 214), (50, 62, 96), (60, 110, 200))
    text_centred(draw, (110 * S, 31 * S), "OPTIONS", font("DejaVuSerif-Bold.ttf", 10),
                 (200, 210, 232), shadow=(6, 8, 16), spacing=3 * S)

    for y in (82, 248):
        draw.line(sc(22, y, 198, y), fill=(48, 64, 112), width=S)
        draw.polygon(sc(110, y - 3, 113, y, 110, y + 3, 107, y), fill=(120, 140, 190))

    # Plates under the two flat buttons, so they read as buttons before the pointer comes.
    for left in (48, 114):
        draw.rounded_rectangle(sc(left, 256, left + 58, 280), radius=4 * S,
                               fill=(22, 32, 62), outline=(78, 100, 150), width=S)

    picture, inside = cut_shape(content.convert("RGB"), mask)
    add_grain(picture, 5, 2)
    result = Image.new("RGB", picture.size, KEY)
    result.paste(picture, (0, 0), inside)
    return result


# Looks of the image buttons: (top, bottom, border, text) colours per state.
STEEL = {
    "normal": ((62, 54, 50), (30, 25, 23), (160, 122, 58), (232, 199, 120)),
    "hover": ((96, 70, 48), (46, 30, 22), (240, 196, 104), (255, 234, 180)),
    "pressed": ((24, 20, 18), (44, 36, 32), (118, 90, 44), (200, 166, 96)),
}
EMBER = {
    "normal": ((150, 62, 24), (72, 24, 10), (218, 164, 76), (255, 232, 176)),
    "hover": ((196, 86, 32), (102, 34, 12), (252, 210, 120), (255, 248, 220)),
    "pressed": ((60, 20, 8), (120, 46, 18), (150, 110, 50), (232, 200, 140)),
}


def word_button(word, looks, state, size=(190, 45), text_size=19):
    width, height = size
    top, bottom, border, text = looks[state]
    picture = Image.new("RGBA", (width * S, height * S), (0, 0, 0, 0))

    if state == "hover":
        glow = Image.new("RGBA", picture.size, (0, 0, 0, 0))
        ImageDraw.Draw(glow).rounded_rectangle(sc(3, 3, width - 3, height - 3), radius=8 * S,
                                               fill=border + (120,))
        picture.alpha_composite(glow.filter(ImageFilter.GaussianBlur(2 * S)))

    face_mask = Image.new("L", picture.size, 0)
    ImageDraw.Draw(face_mask).rounded_rectangle(sc(2, 2, width - 2, height - 2),
                                                radius=7 * S, fill=255)
    face = vertical_gradient(picture.size, top, bottom).convert("RGBA")
    picture.paste(face, (0, 0), face_mask)
    draw = ImageDraw.Draw(picture)
    draw.rounded_rectangle(sc(2, 2, width - 2, height - 2), radius=7 * S, outline=border,
                           width=int(1.5 * S))
    if state != "pressed":
        draw.line(sc(10, 4.5, width - 10, 4.5), fill=(255, 236, 190, 60), width=S)
    for x in (14, width - 14):
        y = height / 2
        draw.polygon(sc(x, y - 4, x + 4, y, x, y + 4, x - 4, y), fill=border)

    shift = S if state == "pressed" else 0
    text_centred(draw, (width * S / 2 + shift, height * S / 2 + shift), word,
                 font("DejaVuSerif-Bold.ttf", text_size), text, shadow=(8, 4, 2, 200))
    return picture.resize(size, Image.LANCZOS)


def cross_button(state):
    width, height = 40, 70
    picture = Image.new("RGBA", (width * S, height * S), (0, 0, 0, 0))
    draw = ImageDraw.Draw(picture)
    ring = {"normal": (160, 122, 58), "hover": (240, 196, 104), "pressed": (118, 90, 44)}[state]
    fill = {"normal": (30, 25, 23), "hover": (70, 32, 18), "pressed": (16, 13, 12)}[state]
    cx, cy, r = 20, 35, 15
    draw.ellipse(sc(cx - r, cy - r, cx + r, cy + r), fill=fill, outline=ring, width=2 * S)
    d = 6 + (0.5 if state == "pressed" else 0)
    draw.line(sc(cx - d, cy - d, cx + d, cy + d), fill=ring, width=3 * S)
    draw.line(sc(cx - d, cy + d, cx + d, cy - d), fill=ring, width=3 * S)
    return picture.resize((width, height), Image.LANCZOS)


def settings_button(state):
    width, height = 52, 15
    top, bottom, border, text = STEEL[state]
    picture = Image.new("RGBA", (width * S, height * S), (0, 0, 0, 0))
    face_mask = Image.new("L", picture.size, 0)
    ImageDraw.Draw(face_mask).rounded_rectangle(sc(0.5, 0.5, width - 0.5, height - 0.5),
                                                radius=7 * S, fill=255)
    picture.paste(vertical_gradient(picture.size, top, bottom).convert("RGBA"), (0, 0),
                  face_mask)
    draw = ImageDraw.Draw(picture)
    draw.rounded_rectangle(sc(0.5, 0.5, width - 0.5, height - 0.5), radius=7 * S,
                           outline=border, width=S)
    text_centred(draw, (width * S / 2, height * S / 2), "Settings",
                 font("DejaVuSans-Bold.ttf", 8), text)
    return picture.resize((width, height), Image.LANCZOS)


def main():
    def save(picture, name):
        picture.save(os.path.join(HERE, name), optimize=True)

    save(launcher_background(), "background.png")
    save(options_background(), "options.png")
    for state in ("normal", "hover", "pressed"):
        save(word_button("Spustit", EMBER, state, text_size=21), "play_%s.png" % state)
        save(word_button("Aktualizovat", STEEL, state), "update_%s.png" % state)
        save(word_button("Zavřít", STEEL, state), "quit_%s.png" % state)
        save(cross_button(state), "close_%s.png" % state)
        save(settings_button(state), "settings_%s.png" % state)


if __name__ == "__main__":
    main()
