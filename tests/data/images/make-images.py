#!/usr/bin/python3
# Writes the small pictures the image tests read, with Pillow (Debian's python3-pil).
# Run from this folder: /usr/bin/python3 make-images.py
from PIL import Image

# 3 wide, 2 high: red, green, blue over yellow, half-transparent white, black.
wide = Image.new("RGBA", (3, 2))
wide.putdata([(255, 0, 0, 255), (0, 255, 0, 255), (0, 0, 255, 255),
              (255, 255, 0, 255), (255, 255, 255, 128), (0, 0, 0, 255)])
wide.save("wide-3x2.png")
wide.convert("RGB").convert("P").save("wide-3x2.gif")

tall = Image.new("RGB", (4, 9), (200, 30, 60))
tall.save("tall-4x9.jpg", quality=95)

transparent = Image.new("RGBA", (2, 2), (0, 0, 0, 0))
transparent.save("transparent-2x2.png")

with open("wide-3x2.png", "rb") as f:
    data = f.read()
with open("truncated.png", "wb") as f:
    f.write(data[: len(data) // 2])
