// A Direct3D 8-shaped device over OpenGL 3.3 core.
//
// The Direct3D object (Direct3D8) answers the adapter questions and creates the
// device; the device (Direct3DDevice8) owns the OpenGL context of the window,
// keeps every Direct3D state as plain data and turns it into OpenGL work when
// something is cleared or drawn.
//
// The back buffer is an OpenGL framebuffer object of the size the presentation
// parameters ask for, with a 16-bit depth buffer; Present stretches it over the
// whole window, or into the destination rectangle when one is given, and
// swaps. A windowed device with a 0 x 0 back buffer takes the window's client
// size, as Direct3D does; when the window can be resized (a window with a
// sizing border, or a window another program owns) the back buffer follows
// the window's size from one frame to the next, keeping every state.
// Presentation waits for the display's retrace full screen, and in a window
// when FullScreen_PresentationInterval asks for D3DPRESENT_INTERVAL_ONE.
//
// With D3DRS_SOFTWAREVERTEXPROCESSING on (the start state of a device created
// with D3DCREATE_SOFTWARE_VERTEXPROCESSING), a draw with a vertex program runs
// the program on the CPU over the vertices the draw names, reading the
// buffers' system-memory copies, and passes the results to the same fragment
// programs; fixed-function draws stay on the GPU.
//
// Objects are reference counted as in COM: Release deletes the object when the
// last reference goes.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <span>
#include <unordered_map>
#include <vector>

#include "gfx/D3D8Types.h"
#include "gfx/GlState.h"
#include "gfx/PipelineGlsl.h"
#include "gfx/VertexFormat.h"
#include "platform/Win32Types.h"

class GlSurface;

// Intrusive reference count for the device's objects.
template <class T>
class RefCounted {
public:
    DWORD AddRef() { return ++m_dwRefs; }
    DWORD Release() {
        const DWORD refs = --m_dwRefs;
        if (refs == 0) delete static_cast<T*>(this);
        return refs;
    }

protected:
    RefCounted() = default;
    ~RefCounted() = default;

private:
    DWORD m_dwRefs = 1;
};

class Direct3DDevice8;
class Direct3DVertexBuffer8;
class Direct3DIndexBuffer8;
class Direct3DTexture8;

enum D3DPRIMITIVETYPE : DWORD {
    D3DPT_POINTLIST = 1,
    D3DPT_LINELIST = 2,
    D3DPT_LINESTRIP = 3,
    D3DPT_TRIANGLELIST = 4,
    D3DPT_TRIANGLESTRIP = 5,
    D3DPT_TRIANGLEFAN = 6,
};

class Direct3D8 : public RefCounted<Direct3D8> {
public:
    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode);
    HRESULT CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT displayFormat, D3DFORMAT backBufferFormat,
                            BOOL windowed);
    HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS8* caps);
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                         D3DPRESENT_PARAMETERS* params, Direct3DDevice8** device);

private:
    friend Direct3D8* Direct3DCreate8(UINT sdkVersion);
    friend class RefCounted<Direct3D8>;
    Direct3D8() = default;
    ~Direct3D8() = default;
};

// Null when the SDK version is not 220 or there is no display to draw on.
Direct3D8* Direct3DCreate8(UINT sdkVersion);

// The capabilities this device offers: vertex programs 1.1 run on the GPU
// unless the environment variable GLIMMERWING_SOFTWARE_VERTEX is set to 1, in
// which case the device reports none and the program takes the software path.
D3DCAPS8 DeviceCapabilities();

// Tests: edits the GLSL text of every program a device generates or
// translates, just before it is compiled (to make one fail); an empty
// function turns it off.
void SetGlslFilterForTesting(std::function<void(std::string& source)> filter);

// Tests: counts the vertex buffers, index buffers and textures that devices
// create from now on, and makes the `failAt`-th of them (1 = the next; 0 =
// none) fail with D3DERR_OUTOFVIDEOMEMORY, as a device short of memory would.
// Returns the creations counted since the previous call.
int InjectResourceFailureForTesting(int failAt);

class Direct3DDevice8 : public RefCounted<Direct3DDevice8> {
public:
    // Frame
    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil);
    HRESULT BeginScene();
    HRESULT EndScene();
    // `destRect` (client coordinates, top row 0) receives the whole back buffer;
    // the rest of the window shows the border colour. The source rectangle, the
    // window override and the dirty region are not supported and ignored.
    HRESULT Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride, const void* dirtyRegion);
    HRESULT TestCooperativeLevel();
    HRESULT Reset(D3DPRESENT_PARAMETERS* params);
    HRESULT GetDeviceCaps(D3DCAPS8* caps);

    // State
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value);
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value);
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value);
    HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value);
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix);
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix);
    HRESULT SetViewport(const D3DVIEWPORT8* viewport);
    HRESULT GetViewport(D3DVIEWPORT8* viewport);
    HRESULT SetMaterial(const D3DMATERIAL8* material);
    HRESULT GetMaterial(D3DMATERIAL8* material);

    // Resources
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, Direct3DVertexBuffer8** buffer);
    HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              Direct3DIndexBuffer8** buffer);
    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                          Direct3DTexture8** texture);
    // A managed texture whose levels are `pixels` (level 0 of width x height
    // first, each level half the one before, rows packed top first), taken
    // over instead of cleared and copied into; the vectors are left empty. It
    // fails where CreateTexture would, and on levels of the wrong size.
    HRESULT CreateTextureFromPixels(UINT width, UINT height, D3DFORMAT format, std::vector<std::vector<BYTE>>& pixels,
                                    Direct3DTexture8** texture);

    // Input and drawing
    HRESULT SetStreamSource(UINT stream, Direct3DVertexBuffer8* buffer, UINT stride);
    HRESULT SetIndices(Direct3DIndexBuffer8* buffer, UINT baseVertexIndex);
    HRESULT SetTexture(DWORD stage, Direct3DTexture8* texture);
    HRESULT GetTexture(DWORD stage, Direct3DTexture8** texture);
    HRESULT CreateVertexShader(const DWORD* declaration, const DWORD* function, DWORD* handle, DWORD usage);
    HRESULT DeleteVertexShader(DWORD handle);
    // A flexible vertex format code or the handle of a vertex program.
    HRESULT SetVertexShader(DWORD handle);
    HRESULT GetVertexShader(DWORD* handle);
    HRESULT SetVertexShaderConstant(DWORD reg, const void* data, DWORD count);
    HRESULT GetVertexShaderConstant(DWORD reg, void* data, DWORD count);
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount);
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, UINT minIndex, UINT numVertices, UINT startIndex,
                                 UINT primitiveCount);

    // --- Beyond Direct3D: what the program's own layers and its tests need ---

    UINT BackBufferWidth() const { return m_nBackWidth; }
    UINT BackBufferHeight() const { return m_nBackHeight; }
    BOOL IsSoftwareVertexProcessing() const { return m_bSoftwareVertexProcessing; }

    // Makes the back buffer the target of OpenGL drawing for code that draws
    // with OpenGL itself (the text font); the device sets its own states
    // again at its next draw.
    void BindBackBuffer();

    // The back buffer's pixels as 0xAARRGGBB, top row first: what has been
    // drawn since the last Present, or else the frame that Present showed.
    // A back buffer drawn straight into the window loses its frame at the
    // swap: the device keeps a copy for reading only when asked to by
    // KeepPresentedFrames(true), else reading it after Present fails.
    bool ReadBackBuffer(std::vector<std::uint32_t>& pixels);
    void KeepPresentedFrames(bool keep) { m_bKeepPresented = keep; }

    // Whether the device draws straight into the window's framebuffer (the
    // back buffer has the window's size, the window's framebuffer has what
    // the back buffer needs), rather than into a back buffer of its own that
    // Present copies or stretches into the window.
    bool DrawsIntoWindow() const { return m_bDirect; }

    // Makes the device behave as lost until Reset, as when a full-screen device
    // loses the display; `resettable` says whether TestCooperativeLevel then
    // reports that a reset can succeed.
    void SimulateDeviceLoss(bool resettable);

    // The colour around a Present's destination rectangle (opaque black at first).
    void SetBorderColor(D3DCOLOR color) { m_dwBorderColor = color; }

    // Number of Present calls since creation.
    std::uint64_t PresentCount() const { return m_nPresents; }

    // Draw calls that reached OpenGL, and OpenGL programs linked so far.
    std::uint64_t DrawCount() const { return m_Stats.draws; }
    std::size_t ProgramCount() const;

    // What the device has sent to OpenGL since it was created; a benchmark
    // takes the difference over a frame.
    struct Statistics {
        std::uint64_t draws = 0;           // draw calls
        std::uint64_t stateCalls = 0;      // state changes: capabilities, functions, masks, bindings, attributes
        std::uint64_t uniformUploads = 0;  // uniform calls
        std::uint64_t uniformBytes = 0;
        std::uint64_t dataUploads = 0;     // buffer ranges and texture levels
        std::uint64_t dataBytes = 0;
    };
    Statistics GetStatistics() const;

    // Waits until OpenGL has drawn everything sent so far (a benchmark splits
    // a frame's time with it).
    void FinishDrawing();

    // With OpenGL off the device does all its own work (state, checks,
    // programs found by their keys) but sends nothing to OpenGL, so that a
    // benchmark can time a frame's processor work outside the driver. What
    // would have been uploaded waits for the first draw with OpenGL on.
    void SetOpenGlDrawing(bool on) { m_bOpenGl = on; }
    bool OpenGlDrawing() const { return m_bOpenGl; }

    // Vertices that vertex programs have processed on the CPU so far
    // (software vertex processing).
    std::uint64_t SoftwareVertexCount() const { return m_nSoftwareVertices; }

    // A program the device generates or translates and OpenGL refuses to
    // compile or link is reported on stderr with the driver's log and the
    // source, and also line by line to `log` while one is set (start-up
    // points it at its own log). The draw or the creation that needed the
    // program fails with D3DERR_DRIVERINTERNALERROR, and so does every later
    // one that needs it, without compiling it again.
    void SetProgramLog(std::function<void(const std::string& line)> log) { m_ProgramLog = std::move(log); }

    // The text of the last program that failed to compile or link (tests).
    const std::string& LastProgramError() const { return m_sProgramError; }

    // Tests: every key of the program caches hashes to the same value from
    // now on, so that only the comparison of whole keys can find a program.
    // Call it before the first draw.
    void CollideProgramKeysForTesting();

private:
    friend class Direct3D8;
    friend class RefCounted<Direct3DDevice8>;
    Direct3DDevice8() = default;
    ~Direct3DDevice8();

    HRESULT Create(HWND window, DWORD behaviorFlags, const D3DPRESENT_PARAMETERS& params);
    HRESULT CreateBackBuffer();
    HRESULT CreateOwnBackBuffer();
    HRESULT MoveIntoOwnBackBuffer();
    bool WindowCanHoldBackBuffer(int drawableWidth, int drawableHeight) const;
    void TargetBackBuffer();
    void ReadFramebuffer(std::vector<std::uint32_t>& pixels);
    void FollowWindowSize(int width, int height);
    void DestroyBackBuffer();
    void SetDefaultStates();
    void ReleaseBindings();

    struct VertexShaderObject;
    struct Program;
    HRESULT PrepareDraw(bool indexed);
    void SendDrawState(bool indexed, std::uint64_t firstVertex, std::uint64_t vertices);
    unsigned SoftwareVertexShader(std::uint32_t varyings);
    bool IndicesWithin(UINT startIndex, UINT count, UINT minIndex, UINT numVertices) const;
    void ProcessVerticesInSoftware(UINT first, UINT count);
    void DestroySoftwareVertexObjects();
    Program* FindProgram(unsigned vertexShader, const ProgramKey& key);
    unsigned FixedVertexShader(const FixedVertexKey& key);
    unsigned CompileStage(unsigned type, std::string source);
    void ReportProgramFailure(const char* what, const std::string& log, const std::string& source);
    void BuildFragmentKey(FragmentKey& key) const;
    void ApplyRenderStates();
    void ApplyTextures(const FragmentKey& key);
    void ApplyVertexLayout(const VertexLayout& layout);
    void UploadUniforms(Program& program, bool fixedFunction);
    void UploadStreamRange(std::uint64_t firstVertex, std::uint64_t vertices);
    void ForgetGlStateIfObjectsWentAway();
    unsigned Sampler(DWORD stage);
    VertexShaderObject* ShaderFromHandle(DWORD handle);

    HWND m_hWindow = nullptr;
    std::unique_ptr<GlSurface> m_pSurface;  // the context and its window
    bool m_bFollowWindow = false;          // the back buffer takes the window's size every frame
    D3DPRESENT_PARAMETERS m_Params{};
    D3DCAPS8 m_Caps{};
    BOOL m_bSoftwareVertexProcessing = FALSE;
    UINT m_nBackWidth = 0;
    UINT m_nBackHeight = 0;
    unsigned m_glFramebuffer = 0;
    unsigned m_glColorBuffer = 0;
    unsigned m_glDepthBuffer = 0;
    bool m_bDepthBuffer = false;           // the back buffer has a depth buffer
    bool m_bDirect = false;                // the back buffer is the window's own framebuffer
    bool m_bPresentFitted = false;         // the last Present showed the picture in part of the window
    struct WindowFramebuffer {             // what the window's framebuffer offers
        bool doubleBuffered = false;
        int depthBits = 0;
        int stencilBits = 0;
    } m_Window;
    bool m_bFramePresented = false;        // nothing drawn since the last Present
    bool m_bKeepPresented = false;
    bool m_bPresentedKept = false;         // m_PresentedFrame holds the last presented frame
    std::vector<std::uint32_t> m_PresentedFrame;
    std::vector<std::uint8_t> m_ReadRows;  // read-back scratch

    bool m_bInScene = false;
    bool m_bLost = false;
    bool m_bLostResettable = false;
    std::uint64_t m_nPresents = 0;
    D3DCOLOR m_dwBorderColor = 0xFF000000;

    std::array<DWORD, kRenderStateCount> m_RenderStates{};
    std::array<std::array<DWORD, kTextureStageStateCount>, kMaxTextureStages> m_StageStates{};
    std::array<D3DMATRIX, 512> m_Transforms{};
    D3DVIEWPORT8 m_Viewport{};
    D3DMATERIAL8 m_Material{};

    // Bindings (each holds a reference while bound).
    Direct3DVertexBuffer8* m_pStream = nullptr;
    UINT m_nStreamStride = 0;
    Direct3DIndexBuffer8* m_pIndices = nullptr;
    UINT m_nBaseVertex = 0;
    std::array<Direct3DTexture8*, kMaxTextureStages> m_Textures{};
    DWORD m_dwShader = 0;

    // Vertex programs by handle, and their constant registers.
    std::vector<std::unique_ptr<VertexShaderObject>> m_Shaders;
    std::array<std::array<float, 4>, 96> m_Constants{};

    // Generated and linked programs, by their whole keys; 0 or null marks a
    // key whose program failed, so it is not tried again.
    std::unordered_map<FixedVertexKey, unsigned, ProgramKeyHash> m_FixedVertexShaders;
    std::unordered_map<FragmentKey, unsigned, ProgramKeyHash> m_FragmentShaders;
    std::unordered_map<ProgramKey, std::unique_ptr<Program>, ProgramKeyHash> m_Programs;
    std::unordered_map<std::uint32_t, unsigned> m_Samplers;
    std::string m_sProgramError;
    std::function<void(const std::string&)> m_ProgramLog;

    // Versions of what the uniforms carry, so a program is only updated when
    // something it shows has changed.
    std::uint64_t m_nConstantsVersion = 1;
    std::uint64_t m_nTransformsVersion = 1;
    std::uint64_t m_nMaterialVersion = 1;
    std::uint64_t m_nRenderStateVersion = 1;

    // The current draw, as PrepareDraw found it.
    UINT m_nDrawVertices = 0;  // vertices the bound stream holds
    UINT m_nDrawStride = 0;    // bytes of a vertex the layout reads
    Program* m_pDrawProgram = nullptr;
    const VertexLayout* m_pDrawLayout = nullptr;
    VertexLayout m_DrawFvfLayout;  // the layout of a format code
    bool m_bDrawFixedFunction = true;
    FragmentKey m_DrawFragment;

    // Software vertex processing: the program the current draw runs on the
    // CPU (null when the GPU runs it), the varyings its fragment program
    // reads, the pass-through programs by those varyings, and the scratch
    // vertices (system memory and OpenGL buffer, grown as needed and reused).
    VertexShaderObject* m_pSoftwareShader = nullptr;
    std::uint32_t m_nSoftwareVaryings = 0;
    std::unordered_map<std::uint32_t, unsigned> m_SoftwareVertexShaders;
    std::vector<float> m_SoftwareVertices;
    unsigned m_glSoftwareBuffer = 0;
    std::size_t m_nSoftwareBufferBytes = 0;
    unsigned m_glSoftwareVertexArray = 0;
    std::uint64_t m_nSoftwareVertices = 0;
    unsigned m_glVertexArray = 0;
    bool m_bClipControl = false;

    GlState m_Gl;
    Statistics m_Stats;
    std::uint64_t m_nObjectDeletionsSeen = 0;
    bool m_bOpenGl = true;
};
