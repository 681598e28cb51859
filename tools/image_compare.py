"""Pixel comparisons of PNG frames for tools/sources-demo.sh: read through
netpbm's pngtopnm (no Python packages needed)."""
import subprocess, sys
def load(path):
    """(width, height, RGB bytes) of a PNG file."""
    data = subprocess.run(['pngtopnm', path], capture_output=True, check=True).stdout
    # P6 header: magic, width, height, maxval, each followed by whitespace.
    parts = []; i = 0
    while len(parts) < 4:
        while data[i:i+1].isspace(): i += 1
        j = i
        while not data[j:j+1].isspace(): j += 1
        parts.append(data[i:j]); i = j
    i += 1
    w, h = int(parts[1]), int(parts[2])
    return w, h, data[i:i + w*h*3]
def px(img, x, y):
    w, h, d = img; k = (y*w + x)*3
    return d[k], d[k+1], d[k+2]
def find_offset(big, small, x0, y0, span, step=6):
    """Where small lies in big, near (x0, y0): the offset of least
    difference over a grid of samples."""
    bw, bh, bd = big; sw, sh, sd = small
    samples = [(x, y) for y in range(0, sh, step) for x in range(0, sw, step)]
    best = None
    for dy in range(y0, y0 + span):
        for dx in range(x0, x0 + span):
            if dx + sw > bw or dy + sh > bh: continue
            total = 0
            for (x, y) in samples[::7]:
                a = (y*sw + x)*3; b = ((y+dy)*bw + x+dx)*3
                total += abs(sd[a]-bd[b]) + abs(sd[a+1]-bd[b+1]) + abs(sd[a+2]-bd[b+2])
            if best is None or total < best[0]: best = (total, dx, dy)
    return best[1], best[2]
def compare(a, ax, ay, b, bx, by, w, h):
    """The mean difference of a channel, and the share of pixels whose
    channels all lie within 8 levels, of a w x h area of each."""
    aw, _, ad = a; bw, _, bd = b
    total = 0; close = 0; n = 0
    for y in range(0, h):
        ra = ((ay+y)*aw + ax)*3; rb = ((by+y)*bw + bx)*3
        for x in range(0, w):
            p = ra + 3*x; q = rb + 3*x
            d = max(abs(ad[p]-bd[q]), abs(ad[p+1]-bd[q+1]), abs(ad[p+2]-bd[q+2]))
            total += abs(ad[p]-bd[q]) + abs(ad[p+1]-bd[q+1]) + abs(ad[p+2]-bd[q+2])
            close += d <= 8; n += 1
    return total / (3*n), close / n
def diff_box(a, b):
    """The box (x0, y0, x1, y1, count) of the pixels that differ, or None."""
    aw, ah, ad = a; _, _, bd = b
    xs = []; ys = []; n = 0
    for y in range(ah):
        r = y*aw*3
        for x in range(aw):
            k = r + 3*x
            if ad[k] != bd[k] or ad[k+1] != bd[k+1] or ad[k+2] != bd[k+2]:
                xs.append(x); ys.append(y); n += 1
    if not n: return None
    return min(xs), min(ys), max(xs), max(ys), n
