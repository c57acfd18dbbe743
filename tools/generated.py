"""What the build's generators share: a file is written only when its text changes, so that
what depends on it is not rebuilt for nothing."""


def write_if_changed(path, text):
    try:
        with open(path, encoding="utf-8") as f:
            if f.read() == text:
                return
    except FileNotFoundError:
        pass
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
