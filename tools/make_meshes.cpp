// make_meshes: builds the game's eight meshes and writes them as DirectX .x text files.
//
//   cmake --build <dir> --target make_meshes && <dir>/tools/make_meshes assets
//   (or: g++ -std=c++20 -O2 tools/make_meshes.cpp -o make_meshes && ./make_meshes assets)
//
// Run it from the repository's top and commit what it writes: zibzib.x, tank.x, tank2.x,
// ground.x, bomb.x, gun.x, gun2.x and blood.x. The output depends on nothing but this file, so
// running it again without a change here rewrites the same bytes. Check the result with
// tools/check_meshes, which loads every file the way the game does and prints its size.
//
// Coordinates are the game's own: left-handed, x right, y up, z forward, in world units before
// the game's ScaleMesh. Every triangle runs clockwise seen from the outside, as DirectX expects,
// and every corner carries its own normal. Each mesh is made of a few simple solids (spheres and
// other shapes turned about an axis, and straight prisms), placed by a turn-and-stretch and an
// offset. The sizes are those the game's rules assume:
//   - zibzib: the hopper stands on y = 0, about 50 across and under 50 tall, facing -z (the
//     tanks); its hit box reaches 30 to each side and 50 up. Two copies are painted one colour
//     (SetColorRGB), so the eyes and ears stand out as shape, not only as colour.
//   - tank / tank2: both frames stand at the tank's centre, 20 above the ground. tank2 (hull and
//     tracks, never turned) reaches down to y = -20; tank (turret and gun, turned to the aim)
//     sits on the hull top at y = 0 with the muzzle 50 ahead along +z at y = 5, where shells
//     leave (25 above the ground).
//   - ground: the top at y = 0, scaled by 3 to cover the whole field and what the cameras see.
//   - bomb: about 60 across, centred, shown 25 above the ground and spun about y.
//   - gun (shell), gun2 (charged orb), blood (droplet): all shown at half size.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

// ---------------------------------------------------------------------------------------------
// Vectors and placements

struct Vec3 {
    double x = 0, y = 0, z = 0;
};

Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 operator*(Vec3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 cross(Vec3 a, Vec3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double length(Vec3 a) { return std::sqrt(dot(a, a)); }
Vec3 normalize(Vec3 a) {
    const double l = length(a);
    return l > 0 ? a * (1 / l) : Vec3{0, 1, 0};
}

// A 3 by 3 matrix acting on column vectors: row i of the result is m[i] . v.
struct Mat3 {
    std::array<std::array<double, 3>, 3> m{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
};

Vec3 operator*(const Mat3& a, Vec3 v) {
    return {a.m[0][0] * v.x + a.m[0][1] * v.y + a.m[0][2] * v.z,
            a.m[1][0] * v.x + a.m[1][1] * v.y + a.m[1][2] * v.z,
            a.m[2][0] * v.x + a.m[2][1] * v.y + a.m[2][2] * v.z};
}

Mat3 operator*(const Mat3& a, const Mat3& b) {
    Mat3 r;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            r.m[i][j] = 0;
            for (int k = 0; k < 3; ++k) r.m[i][j] += a.m[i][k] * b.m[k][j];
        }
    return r;
}

Mat3 scale(double sx, double sy, double sz) {
    Mat3 r;
    r.m[0][0] = sx;
    r.m[1][1] = sy;
    r.m[2][2] = sz;
    return r;
}

// Turns by whole-circle degrees about one axis. rotX(90) takes +y to +z, rotZ(-90) takes +y to
// +x: the two turns that lay an upright solid along the tank's gun and across its tracks.
Mat3 rotX(double degrees) {
    const double c = std::cos(degrees * kPi / 180), s = std::sin(degrees * kPi / 180);
    Mat3 r;
    r.m = {{{1, 0, 0}, {0, c, -s}, {0, s, c}}};
    return r;
}

Mat3 rotZ(double degrees) {
    const double c = std::cos(degrees * kPi / 180), s = std::sin(degrees * kPi / 180);
    Mat3 r;
    r.m = {{{c, -s, 0}, {s, c, 0}, {0, 0, 1}}};
    return r;
}

// The matrix that carries normals along with a placement: the inverse transpose, which is the
// cofactor matrix over the determinant (the determinant's size does not matter, only its sign).
Mat3 normalMatrix(const Mat3& a) {
    const auto& m = a.m;
    Mat3 c;
    c.m[0][0] = m[1][1] * m[2][2] - m[1][2] * m[2][1];
    c.m[0][1] = m[1][2] * m[2][0] - m[1][0] * m[2][2];
    c.m[0][2] = m[1][0] * m[2][1] - m[1][1] * m[2][0];
    c.m[1][0] = m[0][2] * m[2][1] - m[0][1] * m[2][2];
    c.m[1][1] = m[0][0] * m[2][2] - m[0][2] * m[2][0];
    c.m[1][2] = m[0][1] * m[2][0] - m[0][0] * m[2][1];
    c.m[2][0] = m[0][1] * m[1][2] - m[0][2] * m[1][1];
    c.m[2][1] = m[0][2] * m[1][0] - m[0][0] * m[1][2];
    c.m[2][2] = m[0][0] * m[1][1] - m[0][1] * m[1][0];
    const double det = m[0][0] * c.m[0][0] + m[0][1] * c.m[0][1] + m[0][2] * c.m[0][2];
    if (det < 0)
        for (auto& row : c.m)
            for (double& v : row) v = -v;
    return c;
}

// Where a solid goes: first turned and stretched by m, then moved by at.
struct Place {
    Vec3 at;
    Mat3 m;
};

// ---------------------------------------------------------------------------------------------
// Meshes

struct Material {
    std::string name;
    Vec3 color;          // faceColor (diffuse), alpha always 1
    double power = 8;    // specular exponent
    Vec3 specular;       // specularColor
    Vec3 emissive;       // emissiveColor: light of its own, seen even where the sun does not shine
};

struct Face {
    std::array<int, 3> corner;
    int material;
};

struct Mesh {
    std::string name;
    std::string about;   // one comment line under the header
    std::vector<Material> materials;
    std::vector<Vec3> positions;
    std::vector<Vec3> normals;   // one per position
    std::vector<Face> faces;

    Mesh(std::string name, std::string about) : name(std::move(name)), about(std::move(about)) {}

    int material(const Material& m) {
        materials.push_back(m);
        return static_cast<int>(materials.size()) - 1;
    }
};

// A solid in its own coordinates, before it is placed into a mesh.
struct Solid {
    std::vector<Vec3> positions;
    std::vector<Vec3> normals;
    std::vector<std::array<int, 3>> triangles;

    int corner(Vec3 p, Vec3 n) {
        positions.push_back(p);
        normals.push_back(normalize(n));
        return static_cast<int>(positions.size()) - 1;
    }
};

// Places a solid into the mesh with one material. Each triangle is turned, if need be, so that
// its corners run clockwise seen from the side its normals point to: a triangle a, b, c is
// clockwise from the front in left-handed coordinates exactly when (b - a) x (c - a) points to
// the front. The solids below so only have to get their normals right.
void add(Mesh& mesh, const Solid& solid, const Place& place, int material) {
    const int base = static_cast<int>(mesh.positions.size());
    const Mat3 turnNormal = normalMatrix(place.m);
    for (std::size_t i = 0; i < solid.positions.size(); ++i) {
        mesh.positions.push_back(place.m * solid.positions[i] + place.at);
        mesh.normals.push_back(normalize(turnNormal * solid.normals[i]));
    }
    for (auto t : solid.triangles) {
        const Vec3 a = mesh.positions[base + t[0]], b = mesh.positions[base + t[1]],
                   c = mesh.positions[base + t[2]];
        const Vec3 facing = cross(b - a, c - a);
        if (length(facing) < 1e-9) continue;   // no area: nothing to draw
        const Vec3 outward = mesh.normals[base + t[0]] + mesh.normals[base + t[1]] +
                             mesh.normals[base + t[2]];
        if (dot(facing, outward) < 0) std::swap(t[1], t[2]);
        mesh.faces.push_back({{base + t[0], base + t[1], base + t[2]}, material});
    }
}

// Gives every triangle corners of its own with the triangle's normal, so the solid shows hard
// edges under Gouraud shading (the faces of a turret, not a round tower).
Solid faceted(const Solid& smooth) {
    Solid out;
    for (const auto& t : smooth.triangles) {
        const Vec3 a = smooth.positions[t[0]], b = smooth.positions[t[1]],
                   c = smooth.positions[t[2]];
        Vec3 n = cross(b - a, c - a);
        if (dot(n, smooth.normals[t[0]] + smooth.normals[t[1]] + smooth.normals[t[2]]) < 0)
            n = n * -1;
        out.triangles.push_back({out.corner(a, n), out.corner(b, n), out.corner(c, n)});
    }
    return out;
}

// A point of a turned outline: r from the axis, y along it.
struct Outline {
    double r, y;
};

// Turns an outline about the y axis over the angles [from, to) degrees in `segments` steps;
// a whole turn (to - from = 360) closes on itself. The outline runs from its lower end to its
// upper end with the outside on its right as it climbs (up the outer wall, inwards over a top,
// outwards under a bottom); a point with r = 0 is a pole, one corner on the axis. Corners take
// the mean of the normals of the two outline edges they join, so the surface is smooth along
// the outline: a hard edge is made by turning two outlines that share an end point.
Solid lathe(const std::vector<Outline>& outline, int segments, double from = 0, double to = 360) {
    Solid s;
    const bool whole = std::abs(to - from - 360) < 1e-9;
    const int columns = whole ? segments : segments + 1;
    const int n = static_cast<int>(outline.size());

    std::vector<Outline> edgeNormal;   // outward normal of edge k, as (r, y)
    for (int k = 0; k + 1 < n; ++k) {
        const double dr = outline[k + 1].r - outline[k].r, dy = outline[k + 1].y - outline[k].y;
        const double l = std::hypot(dr, dy);
        edgeNormal.push_back({dy / l, -dr / l});
    }

    std::vector<std::vector<int>> ring(n);
    for (int k = 0; k < n; ++k) {
        Outline nk{0, 0};
        if (k > 0) nk = {nk.r + edgeNormal[k - 1].r, nk.y + edgeNormal[k - 1].y};
        if (k + 1 < n) nk = {nk.r + edgeNormal[k].r, nk.y + edgeNormal[k].y};
        if (outline[k].r == 0) {   // a pole: its normal lies along the axis
            ring[k].push_back(s.corner({0, outline[k].y, 0}, {0, nk.y < 0 ? -1.0 : 1.0, 0}));
            continue;
        }
        for (int j = 0; j < columns; ++j) {
            const double a = (from + (to - from) * j / segments) * kPi / 180;
            const double c = std::cos(a), sn = std::sin(a);
            ring[k].push_back(s.corner({outline[k].r * c, outline[k].y, outline[k].r * sn},
                                       {nk.r * c, nk.y, nk.r * sn}));
        }
    }

    auto at = [&](int k, int j) {
        return ring[k].size() == 1 ? ring[k][0] : ring[k][j % columns];
    };
    for (int k = 0; k + 1 < n; ++k) {
        const bool lowPole = ring[k].size() == 1, highPole = ring[k + 1].size() == 1;
        if (lowPole && highPole) continue;
        for (int j = 0; j < segments; ++j) {
            if (lowPole) {
                s.triangles.push_back({at(k, 0), at(k + 1, j), at(k + 1, j + 1)});
            } else if (highPole) {
                s.triangles.push_back({at(k, j), at(k, j + 1), at(k + 1, 0)});
            } else {
                s.triangles.push_back({at(k, j), at(k, j + 1), at(k + 1, j + 1)});
                s.triangles.push_back({at(k, j), at(k + 1, j + 1), at(k + 1, j)});
            }
        }
    }
    return s;
}

// A unit sphere in `rings` bands from pole to pole; stretch it by its placement.
Solid sphere(int segments, int rings, double from = 0, double to = 360) {
    std::vector<Outline> outline;
    for (int k = 0; k <= rings; ++k) {
        const double a = -kPi / 2 + kPi * k / rings;
        outline.push_back({k == 0 || k == rings ? 0.0 : std::cos(a), std::sin(a)});
    }
    return lathe(outline, segments, from, to);
}

// An upright closed frustum from y0 (radius r0) to y1 (radius r1), with flat ends.
Solid frustum(double r0, double r1, double y0, double y1, int segments, double from = 0) {
    Solid s = lathe({{0, y0}, {r0, y0}}, segments, from, from + 360);
    for (const Solid& part : {lathe({{r0, y0}, {r1, y1}}, segments, from, from + 360),
                              lathe({{r1, y1}, {0, y1}}, segments, from, from + 360)}) {
        const int base = static_cast<int>(s.positions.size());
        s.positions.insert(s.positions.end(), part.positions.begin(), part.positions.end());
        s.normals.insert(s.normals.end(), part.normals.begin(), part.normals.end());
        for (auto t : part.triangles)
            s.triangles.push_back({t[0] + base, t[1] + base, t[2] + base});
    }
    return s;
}

Solid cylinder(double r, double y0, double y1, int segments, double from = 0) {
    return frustum(r, r, y0, y1, segments, from);
}

// A straight prism: the convex outline (z, y) pushed along x from x0 to x1, with flat sides.
struct ZY {
    double z, y;
};

Solid prism(const std::vector<ZY>& outline, double x0, double x1) {
    Solid s;
    ZY middle{0, 0};
    for (const ZY& p : outline) {
        middle.z += p.z / outline.size();
        middle.y += p.y / outline.size();
    }
    const int n = static_cast<int>(outline.size());
    for (int k = 0; k < n; ++k) {   // the sides, each with its own four corners
        const ZY p = outline[k], q = outline[(k + 1) % n];
        Vec3 normal{0, q.z - p.z, -(q.y - p.y)};
        const Vec3 away{0, (p.y + q.y) / 2 - middle.y, (p.z + q.z) / 2 - middle.z};
        if (dot(normal, away) < 0) normal = normal * -1;
        const int a = s.corner({x0, p.y, p.z}, normal), b = s.corner({x1, p.y, p.z}, normal),
                  c = s.corner({x1, q.y, q.z}, normal), d = s.corner({x0, q.y, q.z}, normal);
        s.triangles.push_back({a, b, c});
        s.triangles.push_back({a, c, d});
    }
    for (const double x : {x0, x1}) {   // the two ends, as fans
        const Vec3 normal{x == x0 ? -1.0 : 1.0, 0, 0};
        std::vector<int> c;
        for (const ZY& p : outline) c.push_back(s.corner({x, p.y, p.z}, normal));
        for (int k = 1; k + 1 < n; ++k) s.triangles.push_back({c[0], c[k], c[k + 1]});
    }
    return s;
}

Solid box(Vec3 lo, Vec3 hi) {
    return prism({{lo.z, lo.y}, {hi.z, lo.y}, {hi.z, hi.y}, {lo.z, hi.y}}, lo.x, hi.x);
}

Material matte(const char* name, Vec3 color) { return {name, color, 8, {0.1, 0.1, 0.1}, {}}; }
Material shiny(const char* name, Vec3 color, double power, Vec3 specular) {
    return {name, color, power, specular, {}};
}

// A placement: moved only, or turned and stretched, then moved.
Place at(Vec3 p) { return {p, Mat3{}}; }
Place at(Vec3 p, Mat3 m) { return {p, m}; }

// ---------------------------------------------------------------------------------------------
// The eight meshes

// The hopper: a squashed round body facing -z, with two big eyes that bulge out of it, pupils
// that bulge out of the eyes, an open mouth, two ears leaning outwards and two flat feet. Feet
// and body bottom rest on y = 0.
Mesh zibzib() {
    Mesh m("Zibzib",
           "A hopper, standing on y = 0 and facing -z: about 50 across, 49 tall.");
    const int body = m.material(shiny("Body", {1.0, 0.42, 0.62}, 12, {0.35, 0.25, 0.3}));
    const int foot = m.material(matte("Feet", {0.92, 0.26, 0.46}));
    const int white = m.material(shiny("EyeWhite", {1.0, 1.0, 1.0}, 30, {0.6, 0.6, 0.6}));
    const int pupil = m.material(shiny("Pupil", {0.05, 0.05, 0.08}, 40, {0.7, 0.7, 0.7}));
    const int mouth = m.material(matte("Mouth", {0.5, 0.04, 0.14}));

    add(m, sphere(14, 9), at({0, 22, 0}, scale(25.5, 20, 22)), body);
    for (const double side : {-1.0, 1.0}) {
        add(m, sphere(6, 4), at({side * 8.5, 29, -24}, rotX(-90) * scale(4, 2.6, 4.6)), pupil);
        add(m, sphere(8, 5), at({side * 9.5, 29, -17.5}, scale(8.5, 9.5, 7)), white);
        add(m, sphere(6, 4), at({side * 13, 40.5, 2}, rotZ(-side * 22) * scale(4.5, 9, 4)), body);
        add(m, sphere(6, 3), at({side * 12, 4, -5}, scale(7, 4, 9.5)), foot);
    }
    add(m, sphere(8, 4), at({0, 14.5, -19.8}, scale(6.5, 3.6, 3.2)), mouth);
    return m;
}

// The turret and gun, the part that turns with the aim. Its origin is the tank's centre, on the
// hull top; the barrel lies along +z, its muzzle 50 ahead at y = 5.
Mesh tank() {
    Mesh m("TankTurret",
           "Turret and gun: origin at the tank's centre on the hull top, muzzle at (0, 5, 50).");
    const int armour = m.material(shiny("TurretArmour", {0.46, 0.56, 0.26}, 10, {0.2, 0.2, 0.15}));
    const int steel = m.material(shiny("GunSteel", {0.26, 0.28, 0.22}, 30, {0.5, 0.5, 0.45}));
    const int hatch = m.material(matte("Cupola", {0.36, 0.45, 0.2}));
    const int stowage = m.material(matte("Stowage", {0.52, 0.45, 0.28}));

    // Eight flat faces, one facing each way; 21.65 at the corners makes the flats 40 apart. The
    // turret is low: the chase camera, 65 up and 200 behind, must see the muzzle (5 up) over it,
    // where a charging gun glows and the shells leave.
    add(m, faceted(frustum(21.65, 17, 0, 9, 8, 22.5)), at({0, 0, -2}, scale(1, 1, 1.15)), armour);
    add(m, box({-8, -0.5, 14}, {8, 8.5, 23}), at({}), armour);                         // mantlet
    add(m, cylinder(2.2, 20, 44, 8, 22.5), at({0, 5, 0}, rotX(90)), steel);           // barrel
    add(m, faceted(cylinder(3.2, 43, 50, 8, 22.5)), at({0, 5, 0}, rotX(90)), steel);  // muzzle
    add(m, faceted(cylinder(5.5, 9, 11.5, 8, 22.5)), at({-7, 0, -10}), hatch);
    add(m, box({-12, 2, -29}, {12, 8, -21}), at({}), stowage);                          // rear bin
    add(m, box({9.6, 9, -15.4}, {10.4, 30, -14.6}), at({}), steel);                    // aerial
    return m;
}

// The hull and tracks, which never turn. Origin at the tank's centre, 20 above the ground: the
// tracks reach down to y = -20, the hull top is y = 0; 60 wide, 70 long, front towards +z.
Mesh tank2() {
    Mesh m("TankHull",
           "Hull and tracks: origin 20 above the ground, tracks down to y = -20, top at y = 0.");
    const int hull = m.material(shiny("HullArmour", {0.4, 0.5, 0.22}, 10, {0.2, 0.2, 0.15}));
    const int track = m.material(matte("Track", {0.17, 0.17, 0.16}));
    const int wheel = m.material(shiny("Wheel", {0.38, 0.38, 0.34}, 20, {0.3, 0.3, 0.3}));
    const int deck = m.material(matte("EngineDeck", {0.27, 0.32, 0.16}));
    const int pipe = m.material(matte("Exhaust", {0.22, 0.18, 0.15}));

    // Seen from the side: a sloped front plate at +z, a shorter slope at the back.
    add(m, prism({{-31, -16}, {27, -16}, {35, -7}, {31, 0}, {-31, 0}, {-34, -8}}, -18, 18),
        at({}), hull);
    for (const double side : {-1.0, 1.0}) {
        const double inner = side * 18, outer = side * 29;
        add(m, prism({{-29, -20}, {29, -20}, {35, -12}, {33, -5}, {-33, -5}, {-35, -12}},
                     std::min(inner, outer), std::max(inner, outer)), at({}), track);
        const double fenderIn = side * 17.5, fenderOut = side * 30;   // over the track
        add(m, box({std::min(fenderIn, fenderOut), -5, -36},
                   {std::max(fenderIn, fenderOut), -3.5, 35}), at({}), hull);
        for (const double z : {-20.0, -6.7, 6.7, 20.0})
            add(m, cylinder(5.2, 0, 1.2, 8), at({outer, -13.5, z}, rotZ(-side * 90)), wheel);
        add(m, cylinder(1.8, 0, 5, 6), at({side * 12, -6, -31}, rotX(-90)), pipe);
    }
    add(m, box({-12, 0, -29}, {12, 0.8, -17}), at({}), deck);
    return m;
}

// The field, flat at y = 0 and lit from above. Across the field (x), a wide grass area holds
// four light lanes, one ahead of each tank (the tanks stand at x = -300, -100, 100, 300 after
// the game's scale of 3), with rough grass beyond it; along the field (z), a strip of earth
// where the tanks stand and the hoppers leave (z = -450 to about -350 after scaling), then
// bands of two shades of grass to the far end, where the hoppers come in (z = 450 scaled).
Mesh ground() {
    Mesh m("Ground",
           "The field at y = 0, shown at 3 times this size: x -220..220, z -230..220.");
    const int grass[2] = {m.material(matte("Grass", {0.42, 0.8, 0.36})),
                          m.material(matte("GrassDark", {0.35, 0.69, 0.3}))};
    const int lane[2] = {m.material(matte("Lane", {0.7, 0.83, 0.46})),
                         m.material(matte("LaneDark", {0.63, 0.75, 0.4}))};
    const int rough[2] = {m.material(matte("Rough", {0.27, 0.56, 0.24})),
                          m.material(matte("RoughDark", {0.23, 0.49, 0.21}))};
    const int earth = m.material(matte("Earth", {0.64, 0.53, 0.34}));

    constexpr double kLaneHalf = 6;       // a lane is 12 wide, 36 after scaling
    constexpr double kField = 145;        // grass to x = +-435 scaled; hoppers keep within 425
    const double tankX[] = {-100, -100.0 / 3, 100.0 / 3, 100};   // tanks' x before scaling
    std::vector<double> xs{-220, -182, -kField};
    for (const double t : tankX) {
        xs.push_back(t - kLaneHalf);
        xs.push_back(t + kLaneHalf);
        if (t < 0 && t > -50) xs.push_back(0);
    }
    xs.insert(xs.end(), {-200.0 / 3, 200.0 / 3});
    xs.insert(xs.end(), {kField, 182, 220});
    std::sort(xs.begin(), xs.end());

    constexpr double kEarthNear = -150, kEarthFar = -118;   // -450 .. -354 after scaling
    constexpr double kFarEnd = 150;                         // 450 after scaling
    constexpr int kBands = 9;
    std::vector<double> zs{-230, -190, kEarthNear, kEarthFar};
    for (int k = 1; k <= kBands; ++k) zs.push_back(kEarthFar + (kFarEnd - kEarthFar) * k / kBands);
    zs.insert(zs.end(), {185, 220});

    auto corner = [&](std::size_t i, std::size_t j) { return static_cast<int>(j * xs.size() + i); };
    for (const double z : zs)
        for (const double x : xs) {
            m.positions.push_back({x, 0, z});
            m.normals.push_back({0, 1, 0});
        }
    auto inLane = [&](double x) {
        for (const double t : tankX)
            if (std::abs(x - t) < kLaneHalf) return true;
        return false;
    };
    for (std::size_t j = 0; j + 1 < zs.size(); ++j)
        for (std::size_t i = 0; i + 1 < xs.size(); ++i) {
            const double x = (xs[i] + xs[i + 1]) / 2, z = (zs[j] + zs[j + 1]) / 2;
            const int shade = static_cast<int>(j % 2);
            int material = grass[shade];
            if (std::abs(x) > kField || z < kEarthNear || z > kFarEnd) material = rough[shade];
            else if (z < kEarthFar) material = earth;
            else if (inLane(x)) material = lane[shade];
            // Seen from above with x right and z forward, a, b, c runs clockwise.
            const int a = corner(i, j), b = corner(i, j + 1), c = corner(i + 1, j + 1),
                      d = corner(i + 1, j);
            m.faces.push_back({{a, b, c}, material});
            m.faces.push_back({{a, c, d}, material});
        }
    return m;
}

// The bomb: a dark ball in four alternating quarters, with a cap and a burning fuse leaning
// forwards, so its spin about y shows from every side.
Mesh bomb() {
    Mesh m("Bomb",
           "The rolling bomb: a ball 58 across centred on the origin, its fuse leaning to +z.");
    const int shell[2] = {m.material(shiny("BombBlack", {0.12, 0.12, 0.15}, 30, {0.6, 0.6, 0.6})),
                          m.material(shiny("BombRed", {0.5, 0.08, 0.08}, 30, {0.6, 0.5, 0.5}))};
    const int cap = m.material(shiny("Cap", {0.55, 0.55, 0.58}, 40, {0.8, 0.8, 0.8}));
    const int fuse = m.material(matte("Fuse", {0.6, 0.45, 0.25}));
    const int spark = m.material({"Spark", {1.0, 0.85, 0.3}, 8, {}, {1.0, 0.6, 0.1}});

    for (int q = 0; q < 4; ++q)
        add(m, sphere(4, 10, q * 90, q * 90 + 90), at({}, scale(29, 29, 29)), shell[q % 2]);
    const Mat3 lean = rotX(40);   // the fuse's axis: up and towards +z
    add(m, faceted(cylinder(8, 25, 33, 10)), at({}, lean), cap);
    add(m, cylinder(1.5, 33, 40, 6), at({}, lean), fuse);
    add(m, sphere(6, 4), at(lean * Vec3{0, 42, 0}, scale(3.5, 3.5, 3.5)), spark);
    return m;
}

// A shell, pointing along +z: brass with a copper base, 12 long and 6 across.
Mesh gun() {
    Mesh m("Shell",
           "An ordinary shell along +z: 12 long, 6 across (shown at half size).");
    const int brass = m.material(shiny("Brass", {0.95, 0.78, 0.2}, 40, {1.0, 0.95, 0.7}));
    const int copper = m.material(shiny("Copper", {0.8, 0.42, 0.18}, 40, {1.0, 0.8, 0.6}));
    const Place along = at({}, rotX(90));
    add(m, lathe({{0, -6}, {3, -6}}, 8), along, copper);
    add(m, lathe({{3, -6}, {3, -4.3}}, 8), along, copper);
    add(m, lathe({{3, -4.3}, {3, 1}}, 8), along, brass);
    add(m, lathe({{3, 1}, {2.3, 4}, {0, 6}}, 8), along, brass);
    return m;
}

// The charged shot: a bright cyan orb that glows on its own, lit or not.
Mesh gun2() {
    Mesh m("ChargedShot",
           "The charged shot's glowing orb: 24 across, centred (shown at half size).");
    const int glow = m.material({"Glow", {0.35, 0.9, 1.0}, 20, {1.0, 1.0, 1.0}, {0.3, 0.85, 1.0}});
    add(m, sphere(8, 6), at({}, scale(12, 12, 12)), glow);
    return m;
}

// A drop of blood, round below and pointed above, 6 across.
Mesh blood() {
    Mesh m("Blood",
           "A drop of blood: 6 across, 8 tall (shown at half size).");
    const int red = m.material(shiny("Blood", {0.62, 0.02, 0.06}, 25, {0.6, 0.3, 0.3}));
    add(m, lathe({{0, -3}, {2.6, -1.9}, {3, 0.2}, {1.9, 2.6}, {0, 5}}, 8), at({}), red);
    return m;
}

// ---------------------------------------------------------------------------------------------
// Writing .x text

// Fixed four decimals, never "-0.0000", so the files are the same on every run and machine.
std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", std::abs(v) < 0.00005 ? 0.0 : v);
    return text;
}

std::string vector3(Vec3 v) { return number(v.x) + ";" + number(v.y) + ";" + number(v.z) + ";"; }

std::string xText(const Mesh& m) {
    std::ostringstream out;
    out << "xof 0303txt 0032\n";
    out << "// generated by tools/make_meshes; do not edit\n";
    out << "// " << m.about << "\n";
    out << "// " << m.faces.size()
        << " triangles, clockwise seen from the front (left-handed, y up).\n\n";

    auto list = [&](std::size_t count, const std::function<std::string(std::size_t)>& item) {
        for (std::size_t i = 0; i < count; ++i)
            out << "    " << item(i) << (i + 1 < count ? ",\n" : ";\n");
    };
    auto triangle = [&](std::size_t i) {
        const auto& c = m.faces[i].corner;
        return "3;" + std::to_string(c[0]) + "," + std::to_string(c[1]) + "," +
               std::to_string(c[2]) + ";";
    };

    out << "Mesh " << m.name << " {\n";
    out << "    " << m.positions.size() << ";\n";
    list(m.positions.size(), [&](std::size_t i) { return vector3(m.positions[i]); });
    out << "    " << m.faces.size() << ";\n";
    list(m.faces.size(), triangle);

    out << "\n    MeshNormals {\n";
    out << "    " << m.normals.size() << ";\n";
    list(m.normals.size(), [&](std::size_t i) { return vector3(m.normals[i]); });
    out << "    " << m.faces.size() << ";\n";   // corner k of face i uses normal k of that face
    list(m.faces.size(), triangle);
    out << "    }\n";

    out << "\n    MeshMaterialList {\n";
    out << "    " << m.materials.size() << ";\n";
    out << "    " << m.faces.size() << ";\n";
    list(m.faces.size(), [&](std::size_t i) { return std::to_string(m.faces[i].material); });
    for (const Material& mat : m.materials) {
        out << "\n    Material " << mat.name << " {\n";
        out << "        " << number(mat.color.x) << ";" << number(mat.color.y) << ";"
            << number(mat.color.z) << ";1.0000;;\n";
        out << "        " << number(mat.power) << ";\n";
        out << "        " << vector3(mat.specular) << ";\n";
        out << "        " << vector3(mat.emissive) << ";\n";
        out << "    }\n";
    }
    out << "    }\n";
    out << "}\n";
    return out.str();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIRECTORY\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    const std::pair<const char*, Mesh> files[] = {
        {"zibzib.x", zibzib()}, {"tank.x", tank()}, {"tank2.x", tank2()}, {"ground.x", ground()},
        {"bomb.x", bomb()},     {"gun.x", gun()},   {"gun2.x", gun2()},   {"blood.x", blood()},
    };
    for (const auto& [name, mesh] : files) {
        const std::filesystem::path path = dir / name;
        std::ofstream file(path, std::ios::binary);
        file << xText(mesh);
        file.close();
        if (!file) {
            std::fprintf(stderr, "make_meshes: cannot write %s\n", path.string().c_str());
            return 1;
        }
        std::printf("%-9s %4zu triangles, %4zu corners\n", name, mesh.faces.size(),
                    mesh.positions.size());
    }
    return 0;
}
