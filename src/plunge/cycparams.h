// The plunge-roughing cycle's parameter record and its keyword table. Every
// setting of the cycle lives in one record, changed by keyword-value pairs
// ("*BLADE_COUNT 5") from the kernel's word-pair list or a configuration file.
//
// Two copies are kept: the applied record holds the defaults and every pair
// applied so far, and persists from run to run; the run's record is refreshed
// from it and converted to millimetres by scaleLengthParams at the start of each
// run, so that a run never scales values a previous run has scaled already.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernel/base/keyword.h"
#include "kernel/base/kvx/kvlist.h"

constexpr int kCycleKeywordCount = 503;  // rows of CycleKeywordTable, terminator not counted
constexpr double kCycleInchFactor = 25.0;

// Each field is named after its keyword (*BLADE_COUNT: bladeCount); a field that
// several keywords share is named after the first of them in the table.
struct CycleParams {
    char approx[kCycleTextMax + 1]{};
    char boundary[kCycleTextMax + 1]{};
    char surface[kCycleTextMax + 1]{};
    char apt[kCycleTextMax + 1]{};
    char report[kCycleTextMax + 1]{};
    double frradius{};
    double frbogen{};
    double xvorschub{};
    double zvorschub{};
    int16_t frtyp{};
    int16_t bearbeitricht{};
    int16_t lauf{};  // also *ONEWAY
    double vertzustel{};
    double horizustel{};
    double aufmass{};
    double oberfl{};
    double tief{};
    double sichdist{};
    double sichebene{};
    double drehzahl{};
    int32_t wkznummer{};
    int16_t drehricht{};
    int16_t kuehlmittel{};
    double auflmax{};
    double auflmin{};
    int16_t aufstieg{};
    int16_t macroStart{};
    int16_t macroEnd{};
    int16_t macroReturn{};  // also *RETURN_MACRO
    double macroSrad{};
    double macroErad{};
    double macroSabst{};
    double macroEabst{};  // also *MACRO_EDIST
    double macroIwin{};
    double macroAwin{};
    double macroSwin{};
    double macroEwin{};
    double macroTswin{};
    double macroTewin{};
    double macroTheight{};
    int16_t macroTdir{};
    double macroTrad{};
    int16_t macroTmode{};
    int16_t reportClass{};
    int16_t toolTip{};
    int16_t feedJump{};
    double stepMax{};
    double stepMin{};
    int16_t invRicht{};
    int16_t invZust{};
    double sichMaxdist{};
    double nckoO[3]{};
    double nckoX[3]{};
    double nckoY[3]{};
    double nckoZ[3]{};
    double wzkoO[3]{};
    double wzkoX[3]{};
    double wzkoY[3]{};
    double wzkoZ[3]{};
    int16_t x11{};
    int16_t zustEilgang{};
    double fredAngle{};
    double startpt[3]{};
    int16_t boundMode{};
    double bndReduction{};
    int16_t ncBody{};
    double frlaenge{};
    int16_t zustBahn{};
    int16_t randomPoints{};
    char locDir[kCycleTextMax + 1]{};
    char tmpDir[kCycleTextMax + 1]{};
    int16_t jobid{};
    int16_t inchMode{};  // also *INCH
    double precision{};
    int16_t heapSort{};
    double g0ColorRgb[3]{};  // also *RGB_G0
    double g1ColorRgb[3]{};  // also *RGB_G1
    char prgDir[kCycleTextMax + 1]{};
    int16_t skipGeniso{};
    int16_t optDia{};
    int16_t gridMax{};
    double totalToolLength{};
    double cuttingLength{};
    double length1{};
    double length2{};
    double diameter1{};
    double diameter2{};
    double rvorschub{};
    double vvorschub{};
    char facesDsc[kCycleTextMax + 1]{};
    double resolution{};
    int16_t bearbeitrand{};
    char profil[kCycleTextMax + 1]{};
    int16_t zustellArt{};
    double scalHeight{};
    double tiltAngle{};
    int16_t gridXy{};
    int16_t collCheck5ax{};  // also *COLL_CHECK
    double tiltMax{};
    double tiltIpol{};
    int16_t tiltStrategy{};  // also *TILT_MODE
    int16_t normalize{};
    double normFactor{};
    int16_t smoothNormal{};
    int16_t smoothCount{};
    int16_t reduce5ax{};
    double compAxval{};
    double offset5ax{};  // also *TILT_OFFSET
    char tiltCurve[kCycleTextMax + 1]{};
    int16_t smooth5ax{};
    double stepWin{};
    int16_t avoidColl{};
    double sinterval{};
    int16_t clipColl{};  // also *CLIP_RETRACT
    double clipHeight{};
    double boundOffset{};
    int16_t spiral{};
    int16_t startMaxZ{};
    int16_t useTopDepth{};
    int16_t topRef{};
    int16_t bottomRef{};
    int16_t orientPlane{};
    char nameTop[kCycleTextMax + 1]{};
    char nameBottom[kCycleTextMax + 1]{};
    double topOffset{};
    double bottomOffset{};
    int16_t roughStrategy{};
    double length3{};    // also *HEAD_LENGTH2
    double length4{};    // also *HEAD_LENGTH1
    double diameter3{};  // also *HEAD_DIAMETER2
    double diameter4{};  // also *HEAD_DIAMETER1
    double deltakurve{};
    char dllDir[kCycleTextMax + 1]{};
    double taperAngle{};
    double taperHeight{};
    double tipLength{};
    double shaftDiameter{};
    double chamferLength{};
    int16_t holdcheck{};
    int16_t holdcheckMode{};
    double holdcheckClearfactor{};
    double sideDist{};  // also *LIFT_OF_DISTANCE
    double toolOffset{};
    char comment[kCycleTextMax + 1]{};
    char wkzkommentar[kCycleTextMax + 1]{};
    int16_t ipolStrategy{};
    int16_t tiltFixed{};  // also *FORCE_3AXIS
    int16_t cutDirection{};
    char macroSname[kCycleTextMax + 1]{};
    char macroEname[kCycleTextMax + 1]{};
    char profilStart[kCycleTextMax + 1]{};
    char profilEnd[kCycleTextMax + 1]{};
    int32_t extraCount{};
    double extraTol{};
    char extraKvx[kCycleTextMax + 1]{};
    char extra3df[kCycleTextMax + 1]{};
    int16_t startPtOk{};
    int16_t endPtOk{};
    double startPt[3]{};
    double endPt[3]{};
    int16_t syncOk{};
    char nameSync[kCycleTextMax + 1]{};
    int16_t zigzag{};
    double aufmassHori{};
    double stepover{};
    double stepangle{};
    int16_t segSyncOk{};
    char segSync[kCycleTextMax + 1]{};
    double tipDiameter{};
    int16_t syncDist{};
    double refRadius{};
    double segDist{};  // also *SEG_ANGLE
    double startOffset{};
    double fanFactor{};
    int16_t connectSmooth{};  // also *CONNECTSMOOTH
    int16_t clearMode{};
    int16_t bladeCount{};
    double infeedRadius{};
    double filletRadius{};
    int16_t filletCorners{};
    double aufmassHub{};
    double tolAngle{};
    int16_t bladeKvxOk{};
    int16_t splitKvxOk{};
    char bladeKvx[kCycleTextMax + 1]{};
    char splitKvx[kCycleTextMax + 1]{};
    char hubPrf[kCycleTextMax + 1]{};
    char shroudPrf[kCycleTextMax + 1]{};
    char bladePrf[kCycleTextMax + 1]{};
    char splitPrf[kCycleTextMax + 1]{};
    int16_t finish{};
    double shroudOffset{};
    int16_t stepStrategy{};
    double leadAngle{};
    double leadupAngle{};
    double extTrail{};
    double extLead{};
    int16_t hubKvxOk{};
    char hubKvx[kCycleTextMax + 1]{};
    int16_t shroudKvxOk{};
    char shroudKvx[kCycleTextMax + 1]{};
    double filletAngle{};
    double filletTol{};
    double shroudDepth{};
    int16_t invProfil1{};
    int16_t invProfil2{};
    double poffset{};
    char profil2[kCycleTextMax + 1]{};
    int16_t filletStrategy{};
    int16_t approxOk{};
    int16_t entryPos{};
    double macroLrad{};
    double macroLdist{};  // also *MACRO_SIDE_DIST
    double leadTiltFac{};
    double startFactor{};  // also *TOP_ISO
    double endFactor{};    // also *BOTTOM_ISO
    int16_t trimEdge{};
    int16_t extendCorner{};
    int16_t pointBlade{};
    char ipolPath[kCycleTextMax + 1]{};
    int16_t forceG1{};
    double forceG1Ipol{};
    double forceG1Fac{};
    double rSpindle{};
    int16_t justOpen{};
    double linkFeed{};  // also *LIFT_OF_FEEDRATE, *FORCE_LINK_FEED
    double sincrement{};
    double sangle{};
    int16_t checkOnlyLast{};
    int16_t hubFeedCt{};
    double hubFeedrate{};
    double hubSpindle{};
    int16_t passCt{};   // also *PATH_CT
    double hubStart{};  // also *STOCK_HEIGHT
    double hubEnd{};
    double shroudStart{};
    double shroudEnd{};
    int16_t hubfinStrategy{};
    int16_t entryCt{};   // also *ENTRY_PASS_CT
    double entryDist{};  // also *ENTRY_HEIGHT, *ENTRY_WIDTH
    int16_t openTech{};
    double openStep{};
    double openSpindle{};
    double openFeed{};
    double edgeFeedrate{};  // also *FILLET_FEED, *EDGE_FEED
    char trimPrf[kCycleTextMax + 1]{};
    int16_t parameterVersion{};
    double edgeLift{};
    double hubOffset{};
    double bladeOffset{};
    int16_t useShroudFillet{};
    double retractFeedrate{};
    double barrelHeight{};
    double barrelRadius{};
    double centerHeight{};
    double lagAngle{};
    double checkTol{};
    double sideAngle{};
    double trimOffset{};
    int16_t noswap{};
    int16_t tiltAuto{};
    double tiltStart{};
    double tiltEnd{};
    char trimPrfDummy[kCycleTextMax + 1]{};
    double trailAddAngle{};
    int16_t trimPath{};  // also *INTERLACE, *OPTIMISE
    double trimZ{};
    double trimRampLength{};
    double trimRampHeight{};
    int16_t checkHolder{};
    int16_t rotOpt{};
    int16_t trimTrail{};
    int16_t flankEdge{};
    int16_t use4x{};  // also *4XMACHINING
    int16_t shroudStrategy{};
    int16_t leadCorrect{};
    int16_t testBlisk{};
    char points[kCycleTextMax + 1]{};
    int16_t impReverse{};
    int16_t precCalc{};
    double fanDist{};
    double edgeFanFactor{};
    int16_t skipCenter{};
    int16_t dumpSurf{};
    int16_t meshKvx{};
    char bladeKvx2[kCycleTextMax + 1]{};
    char splitKvx2[kCycleTextMax + 1]{};
    double refHubRadius{};
    int16_t edgerollingLead{};
    int16_t edgerollingTrail{};
    int16_t pocketSymmetric{};
    int16_t leadAngleLeadmainOk{};
    int16_t leadAngleTrailOk{};
    int16_t leadAngleLeadsplitterOk{};
    int16_t leadupAngleLeadmainOk{};
    int16_t leadupAngleTrailOk{};
    int16_t leadupAngleLeadsplitterOk{};
    double leadAngleLeadmain{};
    double leadAngleTrail{};
    double leadAngleLeadsplitter{};
    double leadupAngleLeadmain{};
    double leadupAngleTrail{};
    double leadupAngleLeadsplitter{};
    double horizustelMin{};  // also *MIN_STEPOVER
    double scalHeightMin{};
    int16_t hubOffsetOk{};
    double leadedgeFeedrate{};
    double trailedgeFeedrate{};
    double shaftAllowance{};
    double stockWidth{};  // also *OPEN_HEIGHT
    double axialRetract{};
    int16_t springPass{};
    double springFeedrate{};
    double springSpindle{};
    int16_t exactPoints{};
    double trimFactor{};
    double liftOffset{};
    int16_t sbs{};
    double shroudEntext{};
    double shroudLinkext{};
    double hubStartheight{};
    int16_t openPassCt{};
    int16_t shaftExact{};
    int16_t collIter{};
    double avoidAngle{};
    int16_t stepFlow{};
    double bmidAngle{};
    int16_t limitAngle{};
    int16_t openLast{};
    int16_t checkPlane{};
    int16_t avoidCamber{};
    int16_t writeCltop{};
    int16_t closeBlade{};
    int16_t checkZlift{};
    int16_t rapidLogic{};
    int16_t clearMovement{};
    double clearFeedrate{};
    double maxClearDist{};
    double maxDistAngle{};
    double maxPlaneAngle{};
    double holder3dfTol{};
    double head3dfTol{};
    double edgeFandist{};
    int16_t pointPocket{};
    int16_t meshClip{};
    double clipOffset{};
    char clip3df[kCycleTextMax + 1]{};
    int16_t entrySide{};
    int16_t crossMode{};
    int16_t infeedStrategy{};
    int16_t testFast{};
    double sbAngle{};
    double ipolAngle{};
    int16_t ipolCheck{};
    double stepOffset{};
    double checkFactor{};
    int16_t bluntMode{};
    int16_t checkStartpt{};
    double origO[3]{};
    double origX[3]{};
    double origY[3]{};
    double origZ[3]{};
    int16_t useOrig{};
    int16_t forceLink{};
    int16_t edgeBoth{};
    int16_t plungeMode{};
    double plungeStep{};
    double edgeFilletFac{};
    double edgeTol{};
    double camberEdgeAngle{};
    double linkRadius{};
    int16_t stepSide{};
    double bldctFloat{};
    double clearAngleLead{};
    double clearAngleTrail{};
    double clearSide{};
    int16_t midangDownOk{};
    double midangDownIso{};
    double midangDown{};
    int16_t midangUpOk{};
    double midangUpIso{};
    double midangUp{};
    int16_t zigzagNext{};
    int16_t midCurve{};
    int16_t trimFlank{};
    double macroSdist{};
    char stock3df[kCycleTextMax + 1]{};
    int16_t centerCut{};
    double tCutwidth{};
    int16_t bladeSteps{};
    double isoStart{};
    double isoEnd{};
    int16_t avoidClose{};
    double plungeTol{};
    int16_t vecSplCt{};
    int16_t checkAll{};
    double projDist{};
    int16_t inheritVecs{};
    int16_t openOneway{};
    int16_t closeTol{};
    double holeFeedrate{};
    int16_t plungeGfast{};
    double avoidCloseOffset{};
    int16_t clearSideTip{};
    char pofcheckModel[kCycleTextMax + 1]{};
    double modelprecision{};
    int16_t hubOpen{};
    char toolContour[kCycleTextMax + 1]{};
    char holder3df[kCycleTextMax + 1]{};
    char head3df[kCycleTextMax + 1]{};
    char holderKvx[kCycleTextMax + 1]{};
    char headKvx[kCycleTextMax + 1]{};
    double holderClearance{};
    double headClearance{};
    int16_t thickShaft{};
    int16_t openCutOnly{};
    int16_t closed{};
    int16_t rollEdge{};
    double extEdge{};
    int16_t selAll{};
    int16_t selHub{};
    int16_t selShroud{};
    int16_t selBladeLeft{};
    int16_t selBladeRight{};
    int16_t edgerolling{};
    double extFactor{};
    char stopKvx[kCycleTextMax + 1]{};
    double shroudFac{};
    int16_t deviationMode{};
    int16_t flankAlternating{};
    int16_t startClimb{};
    int16_t splitPartition{};
    double smoothEdgeAng{};
    int16_t testBedi{};
    int16_t useFreeHolder{};
    double approxFac{};
    int16_t allowCamber{};
    int16_t flankConnectMode{};
    double flankConnectCurv{};
    double use4xBangle{};
    double trailRotAngle{};
    double anglim{};
    double mirrorPos[3]{};
    double mirrorOri[3]{};
    double jlMirrorPos[3]{};
    double jlMirrorOri[3]{};
    int16_t checkHead{};
    int16_t toolCollCheck{};
    int16_t toolLengthExtend{};
    int16_t toolLengthReduce{};
    double toolLengthIncr{};
    char extension3df[kCycleTextMax + 1]{};
    char shank3df[kCycleTextMax + 1]{};
    double extensionClearance{};
    double shankClearance{};
    int16_t oriRadialOut{};
    double forceBldext{};
    int16_t camberMode{};
    double leadaAngle{};
    double leadbAngle{};
    double coreDiameter{};
    double coreHeight{};
    double camberSangle{};
    int16_t leadaIpol{};
    int16_t leadbIpol{};
    int16_t followEdge{};
    double camberFandist{};
    int16_t macro5x{};
};

struct CycleKeywordRow {
    const char* keyword;  // upper case with a leading star; null ends the table
    int8_t storeType;
    int8_t parseKind;
    uint32_t field;  // byte offset of the field in CycleParams
};

// Keywords in table order, each unique; matched without regard to case.
extern const CycleKeywordRow CycleKeywordTable[kCycleKeywordCount + 1];

// The run's record, lengths in millimetres: what every phase of a run reads. It
// holds the defaults until the first scaleLengthParams.
CycleParams* cycleParams();
CycleParams* cycleParamsApplied();  // defaults and every pair applied so far, in the unit *INCH selects

// The row of a keyword (any case), or -1 when none matches.
int findKeyword(const char* keyword);

// Applies a word-pair list in order to the applied record; keywords without a
// row are skipped. Returns 1.
int applyKeyValueList(const KvList* list);

// Applies the pairs of a configuration file ("*KEYWORD value", "#" comments) to
// the applied record: 1, or 0 when the file cannot be opened.
int readCycleCfgFile(const char* fileName);

// Starts the run's record: a copy of the applied record with every length
// field multiplied by factor (1.0 millimetres, kCycleInchFactor inches).
void scaleLengthParams(double factor);

// out = *TMP_DIR, '/' unless it ends in '/' or '\\', then name; a name alone
// when *TMP_DIR is empty. 1, or 0 (out emptied) when it does not fit in size bytes.
int tmpDirPath(const char* name, char* out, size_t size);

// The folder of the mesh conversion libraries: *DLL_DIR, or this library's own
// folder when *DLL_DIR is empty.
const char* dllDirParam();

void cycleParamsResetState();  // both records back to the defaults
