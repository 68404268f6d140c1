# Helpers shared by the Windows lane scripts; sourced, not run.

# step NAME COMMAND...: runs one step and prints how long it took.
step() {
    local name=$1 start=$SECONDS
    shift
    echo "== $name"
    "$@"
    echo "== $name: $((SECONDS - start)) s"
}

# debian_source AREA PACKAGE[=VERSION] [any]: unpacks the Debian source package (Debian's patches
# applied) under AREA/src and prints its folder. The source index lives under AREA, so the system's
# apt set-up is left as it is; apt checks every file against the signed index. With "any", when that
# version's source cannot be had (a mirror that lacks the newest security upload's source), the
# newest version of the package that can be is taken instead.
debian_source() {
    local area=$1 package=$2 fallback=${3:-}
    local apt=$area/apt
    local opts=(-o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$apt/sources.list.d"
        -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o "APT::Sandbox::User=root")
    if [ ! -f "$apt/updated" ]; then
        mkdir -p "$apt/sources.list.d" "$apt/lists/partial" "$apt/cache/archives/partial"
        # The same servers, suites and keys as the binary packages, for sources.
        sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
            >"$apt/sources.list.d/debian-src.sources"
        apt-get -q "${opts[@]}" update >&2 || return 1
        touch "$apt/updated"
    fi
    local name=${package%%=*}
    local download=$area/src/$name
    rm -rf "$download"
    mkdir -p "$download"
    if ! (cd "$download" && apt-get -q "${opts[@]}" source "$package" >&2); then
        [ "$fallback" = any ] || return 1
        local version fetched=""
        for version in $(apt-cache "${opts[@]}" showsrc "$name" | sed -n 's/^Version: //p' | sort -rVu); do
            [ "$name=$version" != "$package" ] || continue
            echo "taking $name $version instead" >&2
            rm -rf "$download" && mkdir -p "$download"
            if (cd "$download" && apt-get -q "${opts[@]}" source "$name=$version" >&2); then
                fetched=yes
                break
            fi
        done
        [ -n "$fetched" ] || return 1
    fi
    find "$download" -mindepth 1 -maxdepth 1 -type d | grep . || return 1
}
