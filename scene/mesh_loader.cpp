// Mesh files: DirectX .x files read through Assimp and flattened into a mesh builder's list of
// coloured triangles, in the file's own left-handed numbers.
#include "scene/scene.h"

#include <assimp/Importer.hpp>
#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include "scene/x_file_check.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace scene {

namespace {

// Assimp's .x reader turns the file right-handed (z negated, corners reversed). Quads become
// triangles and a mesh without normals gets smooth ones while the data is right-handed, as
// Assimp's normal maker expects; only then is it turned back to the file's own left-handed
// numbers. Asked for all at once, Assimp 5.2 makes the normals halfway through that turn, and
// they come out pointing inwards.
constexpr unsigned kShapeSteps = aiProcess_Triangulate | aiProcess_GenSmoothNormals;
constexpr unsigned kHandSteps = aiProcess_ConvertToLeftHanded;

const glm::vec3 kNoMaterialColor{1, 1, 1};   // a mesh without a material is white

glm::vec3 toGlm(const aiVector3D& v) { return {v.x, v.y, v.z}; }

glm::mat4 toGlm(const aiMatrix4x4& m) {
    // aiMatrix4x4 is row-major with the translation in the fourth column (a4, b4, c4).
    return glm::mat4(m.a1, m.b1, m.c1, m.d1, m.a2, m.b2, m.c2, m.d2,
                     m.a3, m.b3, m.c3, m.d3, m.a4, m.b4, m.c4, m.d4);
}

struct Surface {
    glm::vec3 color = kNoMaterialColor;
    glm::vec3 emissive{0};
};

Surface surfaceOf(const aiScene& file, const aiMesh& mesh) {
    Surface s;
    if (mesh.mMaterialIndex >= file.mNumMaterials || !file.mMaterials[mesh.mMaterialIndex])
        return s;
    const aiMaterial* material = file.mMaterials[mesh.mMaterialIndex];
    aiColor4D c;
    if (aiGetMaterialColor(material, AI_MATKEY_COLOR_DIFFUSE, &c) == aiReturn_SUCCESS)
        s.color = glm::clamp(glm::vec3(c.r, c.g, c.b), 0.0f, 1.0f);
    if (aiGetMaterialColor(material, AI_MATKEY_COLOR_EMISSIVE, &c) == aiReturn_SUCCESS)
        s.emissive = glm::clamp(glm::vec3(c.r, c.g, c.b), 0.0f, 1.0f);
    return s;
}

// The face normal of corners that run clockwise seen from the front, for a mesh that came
// without normals (a corner's own normal is used when there is one).
glm::vec3 faceNormal(const Triangle& t) {
    const glm::vec3 n = glm::cross(t.p[1] - t.p[0], t.p[2] - t.p[0]);
    const float length = glm::length(n);
    return length > 0 && std::isfinite(length) ? n / length : glm::vec3(0, 1, 0);
}

// Appends the triangles of one mesh as a node places it in the file's scene. Faces that are
// not triangles (points and lines the file may hold) and faces that name corners the mesh
// lacks are left out.
void appendMesh(const aiScene& file, const aiMesh& mesh, const glm::mat4& place,
                std::vector<Triangle>& out) {
    const glm::mat3 turn(place);
    const glm::mat3 normalTurn = glm::transpose(glm::inverse(turn));
    const bool mirrored = glm::determinant(turn) < 0;   // keeps front faces clockwise
    const Surface surface = surfaceOf(file, mesh);
    for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
        const aiFace& face = mesh.mFaces[f];
        if (face.mNumIndices != 3 || !face.mIndices) continue;
        Triangle t;
        bool whole = true;
        for (int k = 0; k < 3 && whole; ++k) {
            const unsigned i = face.mIndices[mirrored && k > 0 ? 3 - k : k];
            if (i >= mesh.mNumVertices) { whole = false; break; }
            t.p[k] = glm::vec3(place * glm::vec4(toGlm(mesh.mVertices[i]), 1));
            t.n[k] = mesh.mNormals ? normalTurn * toGlm(mesh.mNormals[i]) : glm::vec3(0);
        }
        if (!whole || !finite(t.p[0]) || !finite(t.p[1]) || !finite(t.p[2])) continue;
        for (glm::vec3& n : t.n) {
            const float length = glm::length(n);
            n = length > 0 && std::isfinite(length) ? n / length : faceNormal(t);
        }
        t.color = surface.color;
        t.emissive = surface.emissive;
        out.push_back(t);
    }
}

// Depth first through the file's frames, each mesh placed by the product of the transforms
// above it. A mesh that two frames name is added twice, as the file shows it twice.
void flatten(const aiScene& file, const aiNode& node, const glm::mat4& above,
             std::vector<Triangle>& out, int depth) {
    constexpr int kMaxDepth = 256;   // a well-formed file nests a few frames
    if (depth > kMaxDepth) return;
    const glm::mat4 place = above * toGlm(node.mTransformation);
    for (unsigned m = 0; m < node.mNumMeshes; ++m) {
        const unsigned index = node.mMeshes[m];
        if (index < file.mNumMeshes && file.mMeshes[index])
            appendMesh(file, *file.mMeshes[index], place, out);
    }
    for (unsigned c = 0; c < node.mNumChildren; ++c)
        if (node.mChildren[c]) flatten(file, *node.mChildren[c], place, out, depth + 1);
}

// What one file gave: its triangles, or why there are none. Kept for the whole run.
struct KeptMesh {
    int64_t size = -1, modified = 0;     // the file as it stood when read
    bool usable = false;
    std::vector<Triangle> triangles;
};

std::mutex keptLock;
std::map<std::string, KeptMesh> kept;    // by path
std::set<std::string> named;             // files already named on standard error

// Reads the file whole with the system's own calls: a read error is an error, not a short file.
bool readFile(const std::string& path, std::size_t size, std::string& bytes, std::string& problem) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        problem = std::strerror(errno);
        return false;
    }
    bytes.resize(size + 1);   // one more, to see a file that grew since it was measured
    std::size_t got = 0;
    ssize_t n = 0;
    while (got < bytes.size() && (n = ::read(fd, bytes.data() + got, bytes.size() - got)) > 0)
        got += std::size_t(n);
    const int readError = n < 0 ? errno : 0;
    ::close(fd);
    if (readError != 0) {
        problem = std::strerror(readError);
        return false;
    }
    if (got > size) {
        problem = "the file changed while it was read";
        return false;
    }
    bytes.resize(got);
    return true;
}

// The file's mesh, from what is kept when the file is as it was; read, checked and kept
// otherwise. The size limit is applied before a byte is read.
const KeptMesh* keptMesh(const std::string& path, std::string& problem) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        problem = errno == ENOENT ? std::string() : std::strerror(errno);
        return nullptr;
    }
    KeptMesh& k = kept[path];
    const int64_t modified = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    if (k.size == int64_t(st.st_size) && k.modified == modified) return &k;
    k = KeptMesh{};
    k.size = int64_t(st.st_size);
    k.modified = modified;
    std::string bytes;
    if (!S_ISREG(st.st_mode)) problem = S_ISDIR(st.st_mode) ? "a directory" : "not a regular file";
    else if (std::size_t(st.st_size) > kMaxMeshFileBytes)
        problem = std::to_string(st.st_size) + " bytes, more than a mesh file may have (" +
                  std::to_string(kMaxMeshFileBytes) + ")";
    else if (readFile(path, std::size_t(st.st_size), bytes, problem))
        k.usable = ParseMeshFile(bytes, k.triangles, problem);
    return &k;
}

}  // namespace

// The file is handed to Assimp as an .x file whatever its name, so no other of Assimp's readers
// can take a damaged file for something else; and only once the check has passed it. Anything
// short of a mesh with at least one triangle fails.
bool ParseMeshFile(std::string_view bytes, std::vector<Triangle>& out, std::string& problem) {
    try {
        if (!CheckXFile(bytes, problem)) return false;
        Assimp::Importer importer;
        const aiScene* file = importer.ReadFileFromMemory(bytes.data(), bytes.size(), 0, "x");
        if (file) file = importer.ApplyPostProcessing(kShapeSteps);
        if (file) file = importer.ApplyPostProcessing(kHandSteps);
        if (!file || (file->mFlags & AI_SCENE_FLAGS_INCOMPLETE) || !file->mRootNode) {
            problem = importer.GetErrorString();
            if (problem.empty()) problem = "the mesh reader found no scene";
            return false;
        }
        std::vector<Triangle> triangles;
        flatten(*file, *file->mRootNode, glm::mat4(1), triangles, 0);
        if (triangles.empty()) {
            problem = "no triangles";
            return false;
        }
        out = std::move(triangles);
        return true;
    } catch (const std::exception& e) {
        problem = e.what();   // Assimp's import errors and a failed allocation alike
        return false;
    } catch (...) {
        problem = "the mesh reader failed";
        return false;
    }
}

bool LoadFromFile(const MeshBuilder& mesh, const std::string& path) {
    if (!mesh) return false;
    std::lock_guard<std::mutex> hold(keptLock);
    std::string problem;
    const KeptMesh* k = keptMesh(path, problem);
    if (k && k->usable) {
        try {
            mesh->triangles = k->triangles;
        } catch (...) {
            return false;
        }
        ++mesh->version;
        return true;
    }
    if (!problem.empty() && named.insert(path).second)
        std::fprintf(stderr, "hopshot: mesh %s: %s; it is drawn empty\n", path.c_str(), problem.c_str());
    return false;
}

}  // namespace scene
