-- The periodic hand-over claims the waiting orders of an instance before it
-- hands them to the back end: one row per claimed order, naming the run
-- that holds it (CLAIMID) and when it took it (CLAIMED). Two runs at the
-- same time never hold the same order; a claim older than the lease (a run
-- that died) is dropped by the next run, which takes the order again.
-- Written so it may run again on a database that has it already.
CREATE TABLE IF NOT EXISTS ORDERCLAIM (
  ORDERID NVARCHAR(32) NOT NULL COLLATE NOCASE PRIMARY KEY,
  CLAIMID NVARCHAR(32) NOT NULL COLLATE NOCASE,
  CLAIMED DATETIME NOT NULL
);
CREATE INDEX IF NOT EXISTS ORDERCLAIM_CLAIMID ON ORDERCLAIM (CLAIMID);
