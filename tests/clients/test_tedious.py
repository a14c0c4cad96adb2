"""tedious (Node.js) against `dunmarrow serve`: installs the locked packages with `npm ci`
into the build tree, then runs tedious_client.js and takes its checks."""

import hashlib
import json
import os
import re
import shutil
import subprocess

import server_fixture as fx

HERE = os.path.dirname(os.path.abspath(__file__))
# The oldest Node.js the locked packages declare they run on.
NODE_MAJOR = 20


def install(args):
    """`npm ci` of package-lock.json into <work>/npm, again only when the lock changed."""
    node = fx.need_program("node")
    fx.need_program("npm")
    version = subprocess.run([node, "--version"], capture_output=True, text=True).stdout.strip()
    major = re.match(r"v(\d+)", version)
    if not major or int(major.group(1)) < NODE_MAJOR:
        raise fx.Skip(f"Node.js {version} is older than the locked packages need ({NODE_MAJOR})")
    target = os.path.join(args.work, "npm")
    with open(os.path.join(HERE, "package-lock.json"), "rb") as f:
        lock = hashlib.sha256(f.read()).hexdigest()
    stamp = os.path.join(target, "installed-lock.sha256")
    if os.path.exists(stamp) and open(stamp).read() == lock:
        return target
    shutil.rmtree(target, ignore_errors=True)
    os.makedirs(target)
    for name in ("package.json", "package-lock.json"):
        shutil.copy(os.path.join(HERE, name), target)
    done = subprocess.run(["npm", "ci", "--no-audit", "--no-fund", "--loglevel=error"],
                          cwd=target, capture_output=True, text=True, timeout=300)
    if done.returncode != 0:
        raise fx.Skip(f"npm ci could not install tedious (exit {done.returncode}):\n"
                      f"{done.stdout}{done.stderr}")
    with open(stamp, "w") as f:
        f.write(lock)
    return target


def run(args, checks):
    target = install(args)
    # tedious gives TLS the server's IP address as its name, which Node.js warns about.
    env = dict(os.environ, NODE_PATH=os.path.join(target, "node_modules"),
               NODE_OPTIONS="--no-deprecation")
    with fx.Server(args, checks, "tedious") as server:
        done = subprocess.run(["node", os.path.join(HERE, "tedious_client.js"), server.host,
                               str(server.port), "tester", fx.PASSWORD, server.drive_root],
                              capture_output=True, text=True, timeout=180, env=env)
        for line in done.stdout.splitlines():
            try:
                result = json.loads(line)
            except ValueError:
                print(line)
                continue
            checks.check(result["ok"], "tedious: " + result["what"], result["detail"])
        checks.equal(done.returncode, 0, "tedious_client.js exits 0")
        if done.stderr:
            print(done.stderr)


if __name__ == "__main__":
    fx.main(run)
