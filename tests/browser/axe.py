"""axe-core, the accessibility engine the browser test runs in each page:
one version from the npm registry, pinned here by its hash, kept in
~/.cache/plumeta. `python3 axe.py fetch` (./dev setup) downloads it once."""
import base64
import hashlib
import io
import os
import sys
import tarfile
import urllib.request

VERSION = "4.10.2"
URL = "https://registry.npmjs.org/axe-core/-/axe-core-%s.tgz" % VERSION
SHA512 = "RE3mdQ7P3FRSe7eqCWoeQ/Z9QXrtniSjp1wUjt5nRC3WIpz5rSCve6o3fsZ2aCpJtrZjSZgjwXAoTO5k4tEI0w=="
CACHE = os.path.join(os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"), "plumeta")
PATH = os.path.join(CACHE, "axe-core-%s.min.js" % VERSION)


def fetch():
    """The script's path, downloaded and checked when it is not here yet."""
    if os.path.exists(PATH):
        return PATH
    with urllib.request.urlopen(URL, timeout=60) as response:
        package = response.read()
    digest = base64.b64encode(hashlib.sha512(package).digest()).decode()
    if digest != SHA512:
        raise RuntimeError("axe-core %s from %s: sha512 %s, not the pinned %s" % (VERSION, URL, digest, SHA512))
    with tarfile.open(fileobj=io.BytesIO(package)) as archive:
        script = archive.extractfile("package/axe.min.js").read()
    os.makedirs(CACHE, exist_ok=True)
    with open(PATH + ".part", "wb") as out:
        out.write(script)
    os.replace(PATH + ".part", PATH)
    return PATH


if __name__ == "__main__":
    try:
        print(fetch())
    except Exception as error:  # no registry, no room: say why
        print("axe-core: %s" % error, file=sys.stderr)
        sys.exit(1)
