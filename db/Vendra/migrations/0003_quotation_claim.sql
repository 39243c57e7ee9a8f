-- The quotation reminder run claims the due quotations before it mails
-- them: one row per claimed quotation, naming the run that holds it
-- (CLAIMID) and when it took it (CLAIMED). Two runs at the same time never
-- hold the same quotation, so none is reminded twice; a claim older than the
-- lease (a run that died) is dropped by the next run, which takes the
-- quotation again. Written so it may run again on a database that has it
-- already.
CREATE TABLE IF NOT EXISTS QUOTATIONCLAIM (
  QUOTATIONID NVARCHAR(32) NOT NULL COLLATE NOCASE PRIMARY KEY,
  CLAIMID NVARCHAR(32) NOT NULL COLLATE NOCASE,
  CLAIMED DATETIME NOT NULL
);
CREATE INDEX IF NOT EXISTS QUOTATIONCLAIM_CLAIMID ON QUOTATIONCLAIM (CLAIMID);
